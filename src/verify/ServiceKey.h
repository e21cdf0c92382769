#pragma once
// The service's public key, built into the program, with the platform's own cryptography (CNG):
// the check of the service's signatures, and the tokens that make each statement fresh. Any
// thread.

#include <string>
#include <string_view>

// True when `signature` (the 64 bytes of r and s) is the service's ECDSA P-256 signature of the
// SHA-256 of `message`.
bool VerifyServiceSignature(std::string_view message, std::string_view signature);

// A fresh random token of 128 bits from the platform's generator, as 32 hex digits.
std::string FreshToken();
