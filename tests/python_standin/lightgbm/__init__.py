"""Stand-in for the lightgbm package: boosters made from LightGBM text models, and the
scikit-learn style wrappers that hold them."""
from lightgbm.basic import Booster, LightGBMError
from lightgbm.sklearn import LGBMClassifier, LGBMModel, LGBMNotFittedError, LGBMRegressor

__version__ = "4.6.0+standin"

__all__ = ["Booster", "LGBMClassifier", "LGBMModel", "LGBMNotFittedError", "LGBMRegressor",
           "LightGBMError"]
