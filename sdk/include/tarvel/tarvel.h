/* The whole guest SDK. */
#ifndef TARVEL_TARVEL_H
#define TARVEL_TARVEL_H

#include "service.h"
#include "system.h"
#include "memory.h"
#include "draw.h"
#include "text.h"
#include "input.h"
#include "screen.h"
#include "timer.h"
#include "data.h"
#include "file.h"
#include "audio.h"
#include "strlib.h"
#include "util.h"
#include "net.h"

#endif
