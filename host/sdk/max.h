// The stand-in host SDK, all of it: the host's types under the host's names.
#pragma once

#include "bitmap.h"
#include "check_abort.h"
#include "color.h"
#include "interval.h"
#include "matrix3.h"
#include "max_time.h"
#include "max_types.h"
#include "point2.h"
#include "point3.h"
#include "random.h"
#include "render_info.h"
#include "effect.h"
#include "inode.h"
#include "isave.h"
#include "ref.h"
