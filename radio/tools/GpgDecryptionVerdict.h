// Whether a gpg decryption of a settings message can be trusted, judged by
// gpg's exit code and status lines, never by its output text (gpg prints
// text even for manipulated or truncated messages).
#pragma once

#include <string>

struct GpgDecryptionVerdict
{
    bool accepted = false;
    bool signedByServer = false;  // false for an accepted unsigned message
    std::string reason;           // why it was refused, or empty
};

// statusText: gpg's "--status-fd" output; serverFingerprint: the only key
// whose signature is accepted (40 upper-case digits; anything else refuses
// every message, unsigned ones too). Accepted only for exit code 0, a clean
// decryption with integrity protection and no failure status, and, when
// signed, good signatures all made by the server key.
GpgDecryptionVerdict judgeGpgDecryption(const std::string& statusText, int exitCode,
                                        const std::string& serverFingerprint);
