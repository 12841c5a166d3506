// The symbols the tavrel library shows to its users; everything else stays inside it.
#pragma once

#include <QtCore/qglobal.h>

#if defined(TAVREL_BUILDING)
#define TAVREL_EXPORT Q_DECL_EXPORT
#else
#define TAVREL_EXPORT Q_DECL_IMPORT
#endif
