"""Stand-in for the catboost package: loading, saving and JSON export of existing models."""
from catboost.core import CatBoost, CatBoostClassifier, CatBoostError, CatBoostRegressor

# The exports this stand-in hands out were written by CatBoost 1.2.10.
__version__ = "1.2.10+standin"

__all__ = ["CatBoost", "CatBoostClassifier", "CatBoostError", "CatBoostRegressor"]
