"""Reads a local model folder's MLmodel file, as the real flavour loaders do."""
import os

import yaml

from mlflow.exceptions import MlflowException


def read_mlmodel(model_uri):
    with open(os.path.join(os.fspath(model_uri), "MLmodel"), encoding="utf-8") as mlmodel:
        return yaml.safe_load(mlmodel) or {}


def flavor_conf(model_uri, flavor_name):
    flavors = read_mlmodel(model_uri).get("flavors") or {}
    if flavor_name not in flavors:
        raise MlflowException(f'Model does not have the "{flavor_name}" flavor')
    return flavors[flavor_name] or {}


def data_path(model_uri, conf, default):
    return os.path.join(os.fspath(model_uri), conf.get("data") or default)
