"""Makes `import catboost` fail as it does where the package is not installed."""
raise ModuleNotFoundError("No module named 'catboost'", name="catboost")
