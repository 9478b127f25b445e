"""Compares two CatBoost models tree by tree, decoded by the catboost package.

Usage: python3 -c SCRIPT OLD_MODEL NEW_MODEL

Both models are exported through CatBoost's own JSON format into a private temporary directory,
which is removed again before the comparison starts. The report goes to standard output. Errors
are not caught: no catboost package, a model catboost rejects or an unreadable export end the
program with a Python traceback on standard error and a non-zero status.
"""
import json
import statistics
import sys
import tempfile
from pathlib import Path

from catboost import CatBoost

LIST_LIMIT = 20
_END = object()


def export_models(old_path, new_path):
    """The parsed JSON exports of both models, old first."""
    with tempfile.TemporaryDirectory(prefix="kaltera-catboost-") as workdir:
        exports = []
        for model_path, name in ((old_path, "old.json"), (new_path, "new.json")):
            model = CatBoost()
            model.load_model(model_path)
            model.save_model(str(Path(workdir) / name), format="json")
        for name in ("old.json", "new.json"):
            with open(Path(workdir) / name, encoding="utf-8") as export:
                exports.append(json.load(export))
    return exports


def flatten_numbers(value):
    """Numbers of a value and its nested lists, in order, as floats; booleans and every other
    value are skipped. Walked without recursion, so nesting depth costs no stack."""
    numbers = []
    pending = [iter([value])]
    while pending:
        item = next(pending[-1], _END)
        if item is _END:
            pending.pop()
        elif isinstance(item, list):
            pending.append(iter(item))
        elif isinstance(item, (int, float)) and not isinstance(item, bool):
            numbers.append(float(item))
    return numbers


class Tree:
    """The parts of one exported tree the comparison reads."""

    def __init__(self, splits, leaf_values, leaf_weights, depth):
        self.splits = splits
        self.leaf_values = leaf_values
        self.leaf_weights = leaf_weights
        self.depth = depth


def nested_tree(root):
    """A non-symmetric tree, written as nested nodes: a node with a "split" has "left" and "right"
    children, a leaf holds "value" and "weight". Splits in pre-order (the node's split, then the
    left subtree, then the right), leaves left to right, and the depth as the number of splits on
    the longest root-to-leaf path."""
    splits, values, weights = [], [], []
    depth = 0
    pending = [(root, 0)]
    while pending:
        node, level = pending.pop()
        if not isinstance(node, dict):
            continue
        split = node.get("split")
        if split is None:
            values.append(node.get("value"))
            weights.append(node.get("weight"))
            depth = max(depth, level)
            continue
        splits.append(split)
        pending.append((node.get("right"), level + 1))
        pending.append((node.get("left"), level + 1))
    return Tree(splits, flatten_numbers(values), flatten_numbers(weights), depth)


def read_tree(tree):
    if "splits" not in tree and ("split" in tree or "value" in tree):
        return nested_tree(tree)
    splits = tree.get("splits") or []
    return Tree(splits, flatten_numbers(tree.get("leaf_values")),
                flatten_numbers(tree.get("leaf_weights")), len(splits))


def read_trees(model):
    trees = model.get("oblivious_trees") or model.get("trees") or []
    return [read_tree(tree) for tree in trees]


def split_type(split):
    return split.get("split_type", "?")


def first_present(mapping, *keys):
    for key in keys:
        value = mapping.get(key)
        if value is not None:
            return value
    return None


class Feature:
    def __init__(self, feature, position):
        index = first_present(feature, "flat_feature_index", "feature_index")
        name = feature.get("feature_id") or feature.get("name")
        self.key = str(position if index is None else index)
        shown = "?" if index is None else index
        self.label = f"{shown}: {name}" if name else f"{shown}"
        self.borders = feature.get("borders") or []


def feature_list(model, list_name):
    info = model.get("features_info") or {}
    return [Feature(feature, position)
            for position, feature in enumerate(info.get(list_name) or [])]


def feature_map(features):
    """Key -> feature; a later feature with the same key replaces an earlier one."""
    return {feature.key: feature for feature in features}


def sorted_keys(keys):
    """All-digit keys first, by numeric value, then every other key in text order."""
    def order(key):
        if key.isascii() and key.isdigit():
            return (0, int(key), key)
        return (1, 0, key)
    return sorted(keys, key=order)


def pair_label(old_label, new_label):
    return old_label if old_label == new_label else f"{old_label} -> {new_label}"


def print_capped(lines, indent):
    for line in lines[:LIST_LIMIT]:
        print(f"{indent}{line}")
    if len(lines) > LIST_LIMIT:
        print(f"{indent}... {len(lines) - LIST_LIMIT} more")


def stats_line(diffs):
    if not diffs:
        return "changed 0 / 0"
    changed = sum(1 for diff in diffs if diff > 0)
    return (f"changed {changed} / {len(diffs)}, "
            f"mean_abs={statistics.mean(diffs):.6g}, "
            f"median_abs={statistics.median(diffs):.6g}, "
            f"max_abs={max(diffs):.6g}")


def compare_numbers(old_numbers, new_numbers, diffs):
    """Adds the absolute pairwise differences to `diffs`; whether the lists differ."""
    changed = len(old_numbers) != len(new_numbers)
    for old, new in zip(old_numbers, new_numbers):
        diff = new - old
        if diff != 0:
            changed = True
        diffs.append(abs(diff))
    return changed


def split_type_mix(trees):
    mix = {}
    for tree in trees:
        for split in tree.splits:
            kind = split_type(split)
            mix[kind] = mix.get(kind, 0) + 1
    return mix


def print_structure(old_trees, new_trees):
    paired = min(len(old_trees), len(new_trees))
    removed_trees = old_trees[paired:]
    added_trees = new_trees[paired:]
    larger = max(len(old_trees), len(new_trees))
    split_same = 0
    split_changed = 0
    trees_with_split_changes = 0
    split_type_changes = {}

    def count_change(text):
        split_type_changes[text] = split_type_changes.get(text, 0) + 1

    same_depth = 0
    for old, new in zip(old_trees, new_trees):
        if old.depth == new.depth:
            same_depth += 1
        changed = len(old.splits) != len(new.splits)
        for old_split, new_split in zip(old.splits, new.splits):
            if old_split == new_split:
                split_same += 1
            else:
                split_changed += 1
                changed = True
                count_change(f"{split_type(old_split)} -> {split_type(new_split)}")
        split_changed += abs(len(old.splits) - len(new.splits))
        if changed:
            trees_with_split_changes += 1
    for tree in removed_trees:
        trees_with_split_changes += 1
        split_changed += len(tree.splits)
        for split in tree.splits:
            count_change(f"{split_type(split)} -> removed")
    for tree in added_trees:
        trees_with_split_changes += 1
        split_changed += len(tree.splits)
        for split in tree.splits:
            count_change(f"added -> {split_type(split)}")

    old_depths = sorted({tree.depth for tree in old_trees})
    new_depths = sorted({tree.depth for tree in new_trees})
    print("Decoded Structure:")
    print(f"  Trees: {len(old_trees)} -> {len(new_trees)}")
    print(f"  Trees removed / added: {len(removed_trees)} / {len(added_trees)}")
    print(f"  Depth sets: {old_depths} -> {new_depths}")
    print(f"  Same depth by paired tree: {same_depth} / {paired}")
    print(f"  Trees with split changes: {trees_with_split_changes} / {larger}")
    print(f"  Split positions same: {split_same}")
    print(f"  Split positions changed: {split_changed}")
    if split_type_changes:
        print("  Split type changes:")
        ranked = sorted(split_type_changes.items(), key=lambda item: (-item[1], item[0]))
        for text, count in ranked:
            print(f"    {text}: {count}")


def print_leaves(old_trees, new_trees):
    paired = min(len(old_trees), len(new_trees))
    unpaired = len(old_trees) + len(new_trees) - 2 * paired
    larger = max(len(old_trees), len(new_trees))
    leaf_trees_changed = 0
    same_leaf_count_trees = 0
    changed_leaf_count_trees = 0
    leaf_abs = []
    weight_trees_changed = 0
    weight_abs = []
    for old, new in zip(old_trees, new_trees):
        if len(old.leaf_values) == len(new.leaf_values):
            same_leaf_count_trees += 1
        else:
            changed_leaf_count_trees += 1
        if compare_numbers(old.leaf_values, new.leaf_values, leaf_abs):
            leaf_trees_changed += 1
        if compare_numbers(old.leaf_weights, new.leaf_weights, weight_abs):
            weight_trees_changed += 1
    leaf_trees_changed += unpaired
    changed_leaf_count_trees += unpaired
    weight_trees_changed += unpaired

    print()
    print("Leaf Values:")
    print(f"  Trees with leaf value changes: {leaf_trees_changed} / {larger}")
    print(f"  Paired trees with same leaf count: {same_leaf_count_trees}")
    print(f"  Trees with changed leaf count: {changed_leaf_count_trees}")
    print(f"  Leaf value diffs for paired slots: {stats_line(leaf_abs)}")
    print()
    print("Leaf Weights:")
    print(f"  Trees with leaf weight changes: {weight_trees_changed} / {larger}")
    print(f"  Leaf weight diffs for paired slots: {stats_line(weight_abs)}")


def print_list_delta(title, old_map, new_map):
    added = [new_map[key].label for key in sorted_keys(new_map.keys() - old_map.keys())]
    removed = [old_map[key].label for key in sorted_keys(old_map.keys() - new_map.keys())]
    print(f"  {title}:")
    if not added and not removed:
        print("    none")
        return
    for heading, labels in (("Added", added), ("Removed", removed)):
        if labels:
            print(f"    {heading}:")
            print_capped(labels, "      ")


def feature_types(float_features, categorical_features):
    """Key -> (type, feature); the categorical entry wins for a key in both lists."""
    types = {}
    for feature in float_features:
        types[feature.key] = ("float", feature)
    for feature in categorical_features:
        types[feature.key] = ("categorical", feature)
    return types


def print_features(old_model, new_model):
    old_floats = feature_list(old_model, "float_features")
    new_floats = feature_list(new_model, "float_features")
    old_cats = feature_list(old_model, "categorical_features")
    new_cats = feature_list(new_model, "categorical_features")
    old_float_map = feature_map(old_floats)
    new_float_map = feature_map(new_floats)

    changed_border_positions = 0
    added_borders = 0
    removed_borders = 0
    changed_border_details = []
    for key in sorted_keys(old_float_map.keys() & new_float_map.keys()):
        old, new = old_float_map[key], new_float_map[key]
        positions = sum(1 for a, b in zip(old.borders, new.borders) if a != b)
        changed_border_positions += positions
        if old.borders != new.borders:
            changed_border_details.append(
                (old, new, len(old.borders), len(new.borders), positions))
        added_borders += max(len(new.borders) - len(old.borders), 0)
        removed_borders += max(len(old.borders) - len(new.borders), 0)
    for key in new_float_map.keys() - old_float_map.keys():
        added_borders += len(new_float_map[key].borders)
    for key in old_float_map.keys() - new_float_map.keys():
        removed_borders += len(old_float_map[key].borders)

    old_total = sum(len(feature.borders) for feature in old_floats)
    new_total = sum(len(feature.borders) for feature in new_floats)
    print()
    print("Feature Processing:")
    print(f"  Float features: {len(old_floats)} -> {len(new_floats)}")
    print(f"  Categorical features: {len(old_cats)} -> {len(new_cats)}")
    print(f"  Total float borders: {old_total} -> {new_total}")
    print(f"  Float features with border changes: {len(changed_border_details)}")
    print(f"  Border positions changed: {changed_border_positions}")
    print(f"  Borders added / removed: {added_borders} / {removed_borders}")
    print_list_delta("Float feature list changes", old_float_map, new_float_map)
    print_list_delta("Categorical feature list changes", feature_map(old_cats),
                     feature_map(new_cats))

    old_types = feature_types(old_floats, old_cats)
    new_types = feature_types(new_floats, new_cats)
    type_changes = []
    for key in sorted_keys(old_types.keys() & new_types.keys()):
        (old_type, old), (new_type, new) = old_types[key], new_types[key]
        if old_type != new_type:
            type_changes.append(f"{pair_label(old.label, new.label)}: {old_type} -> {new_type}")
    print("  Feature type changes:")
    if type_changes:
        print_capped(type_changes, "    ")
    else:
        print("    none")

    if changed_border_details:
        print("  Float features with changed borders:")
        print_capped([f"{pair_label(old.label, new.label)}: borders {old_count} -> {new_count}, "
                      f"changed positions {positions}"
                      for old, new, old_count, new_count, positions in changed_border_details],
                     "    ")


def main():
    old_model, new_model = export_models(sys.argv[1], sys.argv[2])
    old_trees = read_trees(old_model)
    new_trees = read_trees(new_model)

    print("CatBoost Deep Diff")
    print("------------------")
    print("Requires: Python catboost package")
    print()
    print_structure(old_trees, new_trees)
    print_leaves(old_trees, new_trees)
    print()
    print("Scale/Bias:")
    print(f"  {old_model.get('scale_and_bias')} -> {new_model.get('scale_and_bias')}")
    print_features(old_model, new_model)
    print()
    print("Split Type Mix:")
    print(f"  Old: {split_type_mix(old_trees)}")
    print(f"  New: {split_type_mix(new_trees)}")


if __name__ == "__main__":
    main()
