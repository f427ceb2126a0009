#pragma once
// The device idiom. The Linux desktop is the desktop ("mac") idiom; the environment variable
// DRAVIX_IDIOM=phone|pad|mac selects another one (read on every call, so tests can switch it).
#include <QString>

namespace ui {

enum class Idiom { unspecified, phone, pad, mac };

Idiom userInterfaceIdiom();
QString idiomName(Idiom idiom);

}  // namespace ui
