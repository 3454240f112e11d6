// What the operating system does differently on each platform, in one place. POSIX
// systems get the careful path; every other system a portable one built on the C and
// C++ libraries alone. Each concern has a header of its own; this one takes them all.
#pragma once

#include "platform/Files.h"
#include "platform/SafeFile.h"
#include "platform/Signals.h"
#include "platform/Streams.h"
#include "platform/WordWait.h"
