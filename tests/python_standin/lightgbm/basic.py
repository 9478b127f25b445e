"""The stand-in Booster: the text of a LightGBM model, loaded and saved unchanged."""
import os


class LightGBMError(Exception):
    pass


class Booster:
    def __init__(self, params=None, train_set=None, model_file=None, model_str=None):
        if model_file is not None:
            with open(os.fspath(model_file), encoding="utf-8") as text:
                model_str = text.read()
        if model_str is None:
            raise LightGBMError("the stand-in Booster needs model_file or model_str; it cannot train")
        if not model_str.startswith("tree"):
            raise LightGBMError("Model file doesn't specify the number of classes")
        self.params = dict(params or {})
        self._model_str = model_str

    def model_to_string(self, num_iteration=None, start_iteration=0, importance_type="split"):
        return self._model_str

    def save_model(self, filename, num_iteration=None, start_iteration=0,
                   importance_type="split"):
        with open(os.fspath(filename), "w", encoding="utf-8") as out:
            out.write(self._model_str)
        return self
