// JSON documents: value model, field name index, parser and generator.
#pragma once

#include "BalTree.h"
#include "JSONErrors.h"
#include "JSONText.h"
#include "JSONValues.h"
#include "JSONVariant.h"
#include "NumberText.h"
