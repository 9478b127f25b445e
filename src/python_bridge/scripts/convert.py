"""Converts a pickled model or an MLflow model directory to the framework's native file.

Usage: python3 -c SCRIPT SOURCE [OUTPUT]

LightGBM boosters (also inside scikit-learn style wrappers) become LightGBM text models, CatBoost
models become CatBoost binary models. On success one line "converted KIND model -> PATH" goes to
standard output; on failure a message goes to standard error and the status is non-zero.
"""
import os
import pickle
import sys

UNSUPPORTED = (
    "convert: unsupported model type `{}`. Supported: LightGBM (-> .txt) and CatBoost (-> .cbm)."
)


def default_output(source, extension):
    path = source.rstrip("/") or source
    if os.path.isdir(path):
        return os.path.join(path, "model" + extension)
    stem, _ = os.path.splitext(path)
    return stem + extension


def load_mlflow_model(model_dir):
    import mlflow
    import yaml

    with open(os.path.join(model_dir, "MLmodel"), encoding="utf-8") as mlmodel:
        description = yaml.safe_load(mlmodel) or {}
    flavors = description.get("flavors") or {}
    if "lightgbm" in flavors:
        import mlflow.lightgbm

        return mlflow.lightgbm.load_model(model_dir)
    if "catboost" in flavors:
        import mlflow.catboost

        return mlflow.catboost.load_model(model_dir)
    if "sklearn" in flavors:
        import mlflow.sklearn

        return mlflow.sklearn.load_model(model_dir)
    import mlflow.pyfunc

    return mlflow.pyfunc.load_model(model_dir)


def load_model(source):
    if os.path.isdir(source) and os.path.isfile(os.path.join(source, "MLmodel")):
        return load_mlflow_model(source)
    with open(source, "rb") as pickled:
        return pickle.load(pickled)


def optional_import(name):
    # A library that is missing or broken only means its kind of model cannot be converted.
    try:
        return __import__(name)
    except Exception:
        return None


def save_native(model, source, output):
    lightgbm = optional_import("lightgbm")
    if lightgbm is not None:
        if isinstance(model, lightgbm.Booster):
            booster = model
        else:
            booster = getattr(model, "booster_", None)
        if isinstance(booster, lightgbm.Booster):
            target = output or default_output(source, ".txt")
            booster.save_model(target)
            return "LightGBM", target
    catboost = optional_import("catboost")
    if catboost is not None and isinstance(model, catboost.CatBoost):
        target = output or default_output(source, ".cbm")
        model.save_model(target)
        return "CatBoost", target
    model_type = type(model)
    sys.exit(UNSUPPORTED.format(f"{model_type.__module__}.{model_type.__name__}"))


def main():
    if len(sys.argv) < 2:
        sys.exit("convert: missing source path")
    source = sys.argv[1]
    output = sys.argv[2] if len(sys.argv) > 2 and sys.argv[2] else None
    model = load_model(source)
    kind, target = save_native(model, source, output)
    print(f"converted {kind} model -> {target}")


if __name__ == "__main__":
    main()
