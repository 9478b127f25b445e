#pragma once
// Environment and working-directory helpers for the Python bridge tests, and the stand-in
// interpreters they run. Each restores what it changed when it goes away.
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>

#include "scratch_dir.hpp"

namespace orvik::testing_support {

namespace fs = std::filesystem;

inline const std::string kData = ORVIK_TEST_DATA;
inline const std::string kStandin = ORVIK_PYTHON_STANDIN;
inline const std::string kFakePython = kStandin + "/fake_python";
// Debian's interpreter; the tests find it through this PATH, as the command-line cases do.
inline const std::string kSystemPath = "/usr/bin:/bin";

inline std::string fake_python(const std::string& name) {
  return kFakePython + "/" + name + "/python3";
}

// Sets (or with nullopt removes) one environment variable for the lifetime of the object.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) old_ = old;
    if (value) {
      ::setenv(name_.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }

 private:
  std::string name_;
  std::optional<std::string> old_;
};

class ScopedCwd {
 public:
  explicit ScopedCwd(const std::string& dir) : old_(fs::current_path()) { fs::current_path(dir); }
  ScopedCwd(const ScopedCwd&) = delete;
  ScopedCwd& operator=(const ScopedCwd&) = delete;
  ~ScopedCwd() {
    std::error_code ec;
    fs::current_path(old_, ec);
  }

 private:
  fs::path old_;
};

// Debian's python3 with the stand-in catboost, whose JSON exports are CatBoost's own (those of
// tests/data/python/catboost_json, else one beside the model), run in an empty working folder
// (`dir`); Python's temporary files go to `python_tmp`, so a test can see that they are removed.
struct StandinCatboost {
  ScratchDir dir;
  ScratchDir python_tmp;
  ScopedCwd cwd{dir.path()};
  ScopedEnv kaltera{"KALTERA_PYTHON", std::nullopt};
  ScopedEnv path{"PATH", kSystemPath};
  ScopedEnv pythonpath{"PYTHONPATH", kStandin};
  ScopedEnv exports{"ORVIK_STANDIN_CATBOOST_JSON", kData + "/python/catboost_json"};
  ScopedEnv tmpdir{"TMPDIR", python_tmp.path()};
  ScopedEnv bytecode{"PYTHONDONTWRITEBYTECODE", "1"};
};

}  // namespace orvik::testing_support
