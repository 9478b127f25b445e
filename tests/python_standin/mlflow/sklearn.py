"""mlflow.sklearn: a pickled estimator."""
import os
import pickle

from mlflow._model_folder import flavor_conf

FLAVOR_NAME = "sklearn"


def _load_model_from_local_file(path):
    # cloudpickle writes ordinary pickles, so both serialization formats load with pickle.
    with open(path, "rb") as pickled:
        return pickle.load(pickled)


def load_model(model_uri, dst_path=None):
    conf = flavor_conf(model_uri, FLAVOR_NAME)
    path = os.path.join(os.fspath(model_uri), conf.get("pickled_model", "model.pkl"))
    return _load_model_from_local_file(path)


def _load_pyfunc(path):
    return _load_model_from_local_file(path)
