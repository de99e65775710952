#pragma once

#include "messageerror.h"

// A skin call that failed: the file is missing or broken, or a form is absent.
class SkinError : public MessageError {
public:
    using MessageError::MessageError;
};
