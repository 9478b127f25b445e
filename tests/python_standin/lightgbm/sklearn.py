"""Stand-in scikit-learn style wrappers: a fitted wrapper holds its Booster."""
from lightgbm.basic import Booster


class LGBMNotFittedError(ValueError, AttributeError):
    pass


class LGBMModel:
    def __init__(self, **params):
        self._params = params
        self._Booster = None

    def get_params(self, deep=True):
        return dict(self._params)

    @property
    def booster_(self):
        if self._Booster is None:
            raise LGBMNotFittedError("No booster found. Need to call fit beforehand.")
        return self._Booster


class LGBMRegressor(LGBMModel):
    pass


class LGBMClassifier(LGBMModel):
    pass


__all__ = ["Booster", "LGBMClassifier", "LGBMModel", "LGBMNotFittedError", "LGBMRegressor"]
