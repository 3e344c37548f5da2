#pragma once

// The generated layer-shell header names an argument "namespace", a keyword in C++.
#define namespace layer_namespace
#include "wlr-layer-shell-unstable-v1-client.h"
#undef namespace
