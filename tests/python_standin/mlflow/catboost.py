"""mlflow.catboost: a CatBoost model of the class named in the flavour, loaded from its file."""
import catboost

from mlflow._model_folder import data_path, flavor_conf

FLAVOR_NAME = "catboost"


def load_model(model_uri, dst_path=None):
    conf = flavor_conf(model_uri, FLAVOR_NAME)
    model = getattr(catboost, conf.get("model_type", "CatBoost"))()
    model.load_model(data_path(model_uri, conf, "model.cb"), format=conf.get("save_format", "cbm"))
    return model
