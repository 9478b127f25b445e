"""Makes `import lightgbm` fail as it does where the package is not installed."""
raise ModuleNotFoundError("No module named 'lightgbm'", name="lightgbm")
