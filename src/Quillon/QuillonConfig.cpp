#include "quillon/Quillon.h"

QuillonConfig QuillonConfig::defaultConfig() { return QuillonConfig{}; }

QuillonDelegate::~QuillonDelegate() = default;
