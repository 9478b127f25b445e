"""Prints how a CatBoost model processes its features, decoded by the catboost package.

Usage: python3 -c SCRIPT MODEL_PATH

The model is exported through CatBoost's own JSON format into a private temporary directory,
which is removed again before anything is printed. Any failure (no catboost package, a model
catboost rejects) ends the program with a Python error on standard error and a non-zero status.
"""
import json
import os
import sys
import tempfile

from catboost import CatBoost

LIST_LIMIT = 24


def export_model_json(model_path):
    model = CatBoost()
    model.load_model(model_path)
    with tempfile.TemporaryDirectory(prefix="kaltera-catboost-explain-") as workdir:
        export_path = os.path.join(workdir, "model.json")
        model.save_model(export_path, format="json")
        with open(export_path, encoding="utf-8") as export:
            return json.load(export)


def first_present(mapping, *keys):
    for key in keys:
        value = mapping.get(key)
        if value is not None:
            return value
    return None


def feature_label(feature, position):
    index = first_present(feature, "flat_feature_index", "feature_index")
    if index is None:
        index = position
    name = feature.get("feature_id") or feature.get("name")
    if name:
        return f"{index}: {name}"
    return f"{index}"


def print_more(total):
    if total > LIST_LIMIT:
        print(f"    ... {total - LIST_LIMIT} more")


def main():
    model_path = sys.argv[1]
    exported = export_model_json(model_path)
    features_info = exported.get("features_info") or {}
    float_features = features_info.get("float_features") or []
    categorical_features = features_info.get("categorical_features") or []
    total_borders = sum(len(feature.get("borders") or []) for feature in float_features)

    print("Feature Processing:")
    print(f"  Float features: {len(float_features)}")
    print(f"  Categorical features: {len(categorical_features)}")
    print(f"  Total float borders: {total_borders}")
    if float_features:
        print("  Float feature list:")
        for position, feature in enumerate(float_features[:LIST_LIMIT]):
            borders = len(feature.get("borders") or [])
            print(f"    {feature_label(feature, position)} ({borders} borders)")
        print_more(len(float_features))
    if categorical_features:
        print("  Categorical feature list:")
        for position, feature in enumerate(categorical_features[:LIST_LIMIT]):
            print(f"    {feature_label(feature, position)}")
        print_more(len(categorical_features))


if __name__ == "__main__":
    main()
