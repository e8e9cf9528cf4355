// The library's public interface: include this one header.
#pragma once

#include "vexlor/export.h"
#include "vexlor/records.h"
#include "vexlor/types.h"
