#!/usr/bin/env python3
"""Writes the hand-made CatBoost files used by the command-line tests.

Each file is "CBM1", some binary filler, JSON objects shaped like the ones CatBoost embeds, and
printable strings separated by bytes outside 0x20..0x7E, which is all the reader looks at.
Run from this folder: python3 make_synthetic.py
"""
import json

FILLER = bytes([0x00, 0x9c, 0x01, 0xff, 0x10, 0x00, 0x00, 0x80])


def params(iterations=None, depth=None, learning_rate=None, l2=None, loss=None, tree=None):
    flat = {}
    if iterations is not None:
        flat["iterations"] = iterations
    if depth is not None:
        flat["depth"] = depth
    if learning_rate is not None:
        flat["learning_rate"] = learning_rate
    if l2 is not None:
        flat["l2_leaf_reg"] = l2
    if loss is not None:
        flat["loss_function"] = loss
    obj = {"boosting_options": {"iterations": 1000, "learning_rate": 0.5}, "flat_params": flat}
    if tree is not None:
        obj["tree_learner_options"] = tree
    return obj


def model(*parts):
    out = b"CBM1" + FILLER
    for part in parts:
        if isinstance(part, (dict, list)):
            part = json.dumps(part, separators=(",", ":")).encode()
        elif isinstance(part, str):
            part = part.encode()
        out += part + FILLER
    return out


NAMES = ["account_age_days", "avg_basket_eur", "browser_family", "city_tier", "country_code",
         "days_since_login", "device_type", "email_domain", "first_seen_hour", "has_coupon",
         "income_band", "is_returning", "items_in_cart", "last_category", "loyalty_level",
         "mobile_os", "num_sessions_7d", "page_views_30d", "payment_method", "referrer_kind",
         "region_id", "session_len_sec", "signup_channel", "time_on_site", "total_spend_eur",
         "user_age_years", "visit_weekday", "web_push_optin", "zip_prefix", "zone_offset_min"]

TREE = {"depth": 6, "l2_leaf_reg": 3, "grow_policy": "SymmetricTree",
        "bootstrap": {"type": "Bernoulli", "subsample": 0.66}}

FILES = {
    # A full report: parameters, metrics with RMSE, a finish time and 30 feature names.
    "names30.cbm": model(
        params(iterations=300, depth=6, learning_rate=0.03, loss="RMSE", tree=TREE)
        | {"loss_function": {"type": "RMSE"}, "metrics": {"eval_metric": {"type": "MAE"}}},
        *NAMES,
        {"metrics": {"learn_best_error": {"RMSE": 0.4182736455}}},
        "2025-06-30T12:00:00Z", "train_finish_time"),
    # Depth 64: split checks are known, leaf slots are not.
    "depth64.cbm": model(params(iterations=10, depth=64, learning_rate=0.1)),
    # iterations * depth and iterations * 2^depth both overflow 64 bits.
    "overflow.cbm": model(params(iterations=9223372036854775808, depth=3)),
    # Iterations without a depth.
    "no_depth.cbm": model(params(iterations=7)),
    # Numbers at the edges of the text and JSON formats.
    "odd_numbers.cbm": model(
        params(iterations=1, depth=63, learning_rate=-0.0, l2=1e21, loss="Logloss",
               tree={"grow_policy": "Lossguide"}),
        {"metrics": {"learn_best_error": {"RMSE": 1e-7}}}),
    # Nothing but the signature.
    "magic_only.cbm": b"CBM1",
    # Damaged files.
    "empty.cbm": b"",
    "three_bytes.cbm": b"CBM",
    "wrong_magic.cbm": b"CBM2" + FILLER,
    # A CatBoost file without the extension: found by its first bytes.
    "sniffed_model": model(params(iterations=2, depth=2, learning_rate=0.25)),
}

for name, data in FILES.items():
    with open(name, "wb") as f:
        f.write(data)
