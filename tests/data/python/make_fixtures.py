"""Writes the convert fixtures of this folder from real model files, with the Python stand-ins.

Run from this folder: PYTHONPATH=../../python_standin python3 make_fixtures.py
Inputs: regression_first2.txt (a LightGBM text model) and catboost/single_tree.cbm.
"""
import os
import pickle
import shutil

import catboost
import lightgbm

PROTOCOL = 4


def dump(obj, path):
    with open(path, "wb") as out:
        pickle.dump(obj, out, protocol=PROTOCOL)


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as out:
        out.write(text)


def mlmodel(flavors):
    return "artifact_path: model\nflavors:\n" + flavors + "mlflow_version: 2.19.0\n"


LIGHTGBM_FLAVOR = """  lightgbm:
    code: null
    data: model.lgb
    lgb_version: 4.6.0
    model_class: lightgbm.basic.Booster
"""
CATBOOST_FLAVOR = """  catboost:
    catboost_version: 1.2.10
    code: null
    data: model.cb
    model_type: CatBoostClassifier
    save_format: cbm
"""
SKLEARN_FLAVOR = """  sklearn:
    code: null
    pickled_model: model.pkl
    serialization_format: cloudpickle
    sklearn_version: 1.5.2
"""


def pyfunc_flavor(loader, data):
    return f"""  python_function:
    data: {data}
    env:
      conda: conda.yaml
      virtualenv: python_env.yaml
    loader_module: {loader}
    python_version: 3.11.2
"""


def main():
    booster = lightgbm.Booster(model_file="regression_first2.txt")
    regressor = lightgbm.LGBMRegressor(n_estimators=2)
    regressor._Booster = booster
    classifier = catboost.CatBoostClassifier()
    classifier.load_model("catboost/single_tree.cbm")

    dump(booster, "lgb_booster.pkl")
    dump(regressor, "lgb_regressor.pkl")
    dump(classifier, "catboost_classifier.pkl")
    dump({"weights": [0.5, 0.25]}, "plain_dict.pkl")

    write("mlflow_lightgbm/MLmodel",
          mlmodel(LIGHTGBM_FLAVOR + pyfunc_flavor("mlflow.lightgbm", "model.lgb")))
    shutil.copyfile("regression_first2.txt", "mlflow_lightgbm/model.lgb")

    write("mlflow_catboost/MLmodel",
          mlmodel(CATBOOST_FLAVOR + pyfunc_flavor("mlflow.catboost", "model.cb")))
    shutil.copyfile("catboost/single_tree.cbm", "mlflow_catboost/model.cb")

    write("mlflow_sklearn/MLmodel",
          mlmodel(pyfunc_flavor("mlflow.sklearn", "model.pkl") + SKLEARN_FLAVOR))
    dump(regressor, "mlflow_sklearn/model.pkl")

    # Both library flavours: the LightGBM one is preferred.
    write("mlflow_catboost_and_lightgbm/MLmodel", mlmodel(CATBOOST_FLAVOR + LIGHTGBM_FLAVOR))
    shutil.copyfile("regression_first2.txt", "mlflow_catboost_and_lightgbm/model.lgb")
    shutil.copyfile("catboost/single_tree.cbm", "mlflow_catboost_and_lightgbm/model.cb")

    write("mlflow_pyfunc/MLmodel", mlmodel(pyfunc_flavor("mlflow.lightgbm", "model.lgb")))
    shutil.copyfile("regression_first2.txt", "mlflow_pyfunc/model.lgb")

    write("mlflow_without_flavors/MLmodel", "artifact_path: model\nmlflow_version: 2.19.0\n")


if __name__ == "__main__":
    main()
