"""Objects that run Python code, or fail, where the module reads its arguments, recipes and values."""

from collections.abc import Sequence

import telbit


class Index:
    """An integer given through __index__, which first runs `action`: any Python code at all."""

    def __init__(self, value, action=None):
        self.value, self.action = value, action

    def __index__(self):
        if self.action is not None:
            self.action()
        return self.value

    def __repr__(self):
        return f"{type(self).__name__}({self.value!r})"


class Real:
    """A real number given through __float__ alone, which first runs `action`."""

    __init__, __repr__ = Index.__init__, Index.__repr__

    def __float__(self):
        if self.action is not None:
            self.action()
        return float(self.value)


class Number(Index, Real):
    """A number given through both __index__ and __float__."""


def raiser(exc_type, *args):
    """An action that raises a new exception each time: one raised again keeps a growing traceback alive."""
    def action():
        raise exc_type(*args)
    return action


class Spiteful(Exception):
    """An exception whose text cannot be had in one of several ways."""

    def __init__(self, how="raises"):
        super().__init__(how)
        self.how = how

    def __str__(self):
        if self.how == "raises":
            raise RuntimeError("no text")
        if self.how == "not a str":
            return 42
        if self.how == "reenters":
            return telbit.decode_utf8(b"inner text")
        return "\ud800 lone"


class Unrepresentable:
    def __repr__(self):
        raise RuntimeError("no repr")


class Meddling(str):
    """A key that hashes like "bits" and, compared once armed, runs `Meddling.then` on the dict being searched."""

    then = None

    def __hash__(self):
        return hash("bits")

    def __eq__(self, other):
        if Meddling.then is not None:
            action, Meddling.then = Meddling.then, None
            action()
        return False


def grow(target, count=100):
    """Meddling's action that makes the dict being searched grow, and so move its table."""
    def action():
        for i in range(count):
            target[f"filler{i}"] = i
    return action


class Touchy(str):
    """A key that hashes like `like` until armed, then raises from both __hash__ and __eq__."""

    armed = False

    def __new__(cls, text, like):
        key = super().__new__(cls, text)
        key.like = like
        return key

    def __hash__(self):
        if Touchy.armed:
            raise LookupError("no hashing")
        return hash(self.like)

    def __eq__(self, other):
        if Touchy.armed:
            raise ArithmeticError("no comparing")
        return str.__eq__(self, other)


class Unhashable(str):
    def __hash__(self):
        raise ZeroDivisionError("no hash")


class LyingBytes(bytes):
    def __len__(self):
        return 10**9


class LyingSequence(Sequence):
    """A sequence whose length lies (or, as None, raises) and whose items end in OSError at `fail_at`."""

    def __init__(self, items, length=None, fail_at=None):
        self.items, self.length, self.fail_at = items, length, fail_at

    def __len__(self):
        if self.length is None:
            raise RuntimeError("no length")
        return self.length

    def __getitem__(self, index):
        if index == self.fail_at:
            raise OSError("half-way")
        return self.items[index]


class Changing:
    """An __index__ that gives a different answer on each call, then keeps the last."""

    def __init__(self, *answers):
        self.answers = list(answers)

    def __index__(self):
        return self.answers.pop(0) if len(self.answers) > 1 else self.answers[0]


def impostor(truth=lambda: True):
    """A class that borrows NumPy's name for its bool, so that its truth value is asked for."""
    return type("numpy.bool_", (), {"__bool__": lambda self: truth()})()
