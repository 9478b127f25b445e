"""Stand-in for mlflow's model loading: mlflow.lightgbm, mlflow.catboost, mlflow.sklearn and
mlflow.pyfunc load_model() of a local model folder, by the flavour settings in its MLmodel."""

__version__ = "2.19.0+standin"
