// Sets a flag for the length of a scope and gives it back its value however the scope
// ends (a return in the middle, an exception); a handler run from inside another that
// set the same flag leaves it set.
#pragma once

namespace roles {

class FlagScope {
 public:
  explicit FlagScope(bool& flag) : flag_(flag), before_(flag) { flag_ = true; }
  ~FlagScope() { flag_ = before_; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  bool& flag_;
  bool before_;
};

}  // namespace roles
