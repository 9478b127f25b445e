"""A catboost build that defines no __version__ (placed before the stand-in on PYTHONPATH)."""
