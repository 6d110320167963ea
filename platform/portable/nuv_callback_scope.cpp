#include "nuv_callback_scope.h"

namespace nuv {

namespace {
thread_local int t_callbacks = 0;
}  // namespace

CallbackScope::CallbackScope() { ++t_callbacks; }
CallbackScope::~CallbackScope() { --t_callbacks; }

bool InsideCallback() { return t_callbacks != 0; }

}  // namespace nuv
