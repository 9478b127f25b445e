"""mlflow.pyfunc: the generic flavour, a PyFuncModel around the implementation that the
flavour's loader module returns."""
import importlib
import os

from mlflow._model_folder import flavor_conf, read_mlmodel

FLAVOR_NAME = "python_function"


class PyFuncModel:
    def __init__(self, model_meta, model_impl):
        self._model_meta = model_meta
        self._model_impl = model_impl

    @property
    def metadata(self):
        return self._model_meta


def load_model(model_uri, suppress_warnings=False, dst_path=None):
    conf = flavor_conf(model_uri, FLAVOR_NAME)
    loader = importlib.import_module(conf["loader_module"])
    data = conf.get("data")
    path = os.path.join(os.fspath(model_uri), data) if data else os.fspath(model_uri)
    return PyFuncModel(model_meta=read_mlmodel(model_uri), model_impl=loader._load_pyfunc(path))
