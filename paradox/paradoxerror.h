#pragma once

#include "core/errors.h"

// A Paradox file that cannot be read, understood or written; the text names the file.
class ParadoxError : public ZalventoError
{
public:
    using ZalventoError::ZalventoError;
};
