"""mlflow.lightgbm: a Booster saved as a LightGBM text model, or a pickled wrapper."""
import pickle

import lightgbm

from mlflow._model_folder import data_path, flavor_conf

FLAVOR_NAME = "lightgbm"


def _load_model(path, model_class):
    if model_class == "lightgbm.basic.Booster":
        return lightgbm.Booster(model_file=path)
    with open(path, "rb") as pickled:
        return pickle.load(pickled)


def load_model(model_uri, dst_path=None):
    conf = flavor_conf(model_uri, FLAVOR_NAME)
    model_class = conf.get("model_class", "lightgbm.basic.Booster")
    return _load_model(data_path(model_uri, conf, "model.lgb"), model_class)


class _LGBModelWrapper:
    def __init__(self, lgb_model):
        self.lgb_model = lgb_model


def _load_pyfunc(path):
    return _LGBModelWrapper(lightgbm.Booster(model_file=path))
