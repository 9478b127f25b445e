"""CatBoost model objects of the stand-in: a model is the bytes of its CatBoost binary file.

save_model(path, format="json") writes CatBoost's own JSON export of the model, looked up by the
model's name (NAME.cbm -> NAME_model.json.gz or NAME_model.json) in the folders of the
ORVIK_STANDIN_CATBOOST_JSON variable and then next to the model file.
"""
import gzip
import os

_CBM_MAGIC = b"CBM1"
_EXPORTS_VARIABLE = "ORVIK_STANDIN_CATBOOST_JSON"


class CatBoostError(Exception):
    pass


class CatBoost:
    def __init__(self, params=None):
        self._params = dict(params or {})
        self._model_bytes = None
        self._model_name = None
        self._model_dir = None

    def is_fitted(self):
        return self._model_bytes is not None

    def get_params(self, deep=True):
        return dict(self._params)

    def load_model(self, fname=None, format="cbm", stream=None, blob=None):
        if format != "cbm":
            raise CatBoostError(f"the stand-in reads only cbm models, not {format!r}")
        if blob is None and stream is not None:
            blob = stream.read()
        if blob is None:
            if fname is None:
                raise CatBoostError("Exactly one of fname/stream/blob arguments mustn't be None")
            path = os.fspath(fname)
            if not os.path.isfile(path):
                raise CatBoostError(f"Model file doesn't exist: {path}")
            with open(path, "rb") as model_file:
                blob = model_file.read()
            self._model_name = os.path.splitext(os.path.basename(path))[0]
            self._model_dir = os.path.dirname(os.path.abspath(path))
        if not bytes(blob[:4]) == _CBM_MAGIC:
            raise CatBoostError("Incorrect model file descriptor")
        self._model_bytes = bytes(blob)
        return self

    def save_model(self, fname, format="cbm", export_parameters=None, pool=None):
        if not self.is_fitted():
            raise CatBoostError("There is no trained model to use save_model(). "
                                "Use fit() to train model. Then use this method.")
        path = os.fspath(fname)
        if format == "cbm":
            with open(path, "wb") as out:
                out.write(self._model_bytes)
        elif format == "json":
            with open(path, "wb") as out:
                out.write(self._json_export())
        else:
            raise CatBoostError(f"the stand-in cannot save the format {format!r}")

    def __getstate__(self):
        # A pickled model keeps its bytes and name; the folder it was read from stays behind.
        state = dict(self.__dict__)
        state["_model_dir"] = None
        return state

    def _json_export(self):
        folders = [d for d in os.environ.get(_EXPORTS_VARIABLE, "").split(os.pathsep) if d]
        if self._model_dir is not None:
            folders.append(self._model_dir)
        for folder in folders:
            base = os.path.join(folder, f"{self._model_name}_model.json")
            if os.path.isfile(base + ".gz"):
                with gzip.open(base + ".gz", "rb") as export:
                    return export.read()
            if os.path.isfile(base):
                with open(base, "rb") as export:
                    return export.read()
        raise CatBoostError(f"the stand-in has no JSON export for the model {self._model_name!r}")


class CatBoostClassifier(CatBoost):
    pass


class CatBoostRegressor(CatBoost):
    pass
