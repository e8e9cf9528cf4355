// The library's public interface: include this one header.
#pragma once

#include "vexlor/alarms.h"
#include "vexlor/analog.h"
#include "vexlor/digital.h"
#include "vexlor/export.h"
#include "vexlor/frame.h"
#include "vexlor/functions.h"
#include "vexlor/named.h"
#include "vexlor/points.h"
#include "vexlor/records.h"
#include "vexlor/string_points.h"
#include "vexlor/supervised.h"
#include "vexlor/types.h"
#include "vexlor/util.h"
#include "vexlor/vdb.h"
#include "vexlor/vfifo.h"
#include "vexlor/vmmap.h"
