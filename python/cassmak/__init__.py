# The package over the extension cassmak._cassmak: its public names, shown
# as the package's own (help(cassmak), tracebacks and reprs say cassmak.X).
from . import _cassmak
from ._cassmak import *  # noqa: F401,F403

__doc__ = _cassmak.__doc__
__version__ = _cassmak.__version__

for _name in dir(_cassmak):
    if not _name.startswith("_"):
        getattr(_cassmak, _name).__module__ = __name__
del _name
