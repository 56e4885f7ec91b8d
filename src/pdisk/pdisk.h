/*
** The virtual file system: every public header in one.
*/
#pragma once

#include "anywhen.h"
#include "cart_codecs.h"
#include "cart_entry.h"
#include "env.h"
#include "fsops.h"
#include "host_fs.h"
#include "listing.h"
#include "paths.h"
#include "pfile.h"
#include "pmount.h"
#include "writeback.h"
