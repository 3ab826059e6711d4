// pyglue.h: the toolkit for Python-visible classes written in C++, in one include.
#pragma once

#include "buffer.h"
#include "call.h"
#include "calls.h"
#include "checks.h"
#include "class_builder.h"
#include "errors.h"
#include "iterate.h"
#include "method.h"
#include "module.h"
#include "names.h"
#include "numbers.h"
#include "recursion.h"
