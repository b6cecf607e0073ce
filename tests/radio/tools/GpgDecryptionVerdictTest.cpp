// Tests of the settings integrity rule on gpg status lines: which
// decryptions are trusted and which are refused whatever gpg printed.
#include "GpgDecryptionVerdict.h"

#include <gtest/gtest.h>

namespace {

const std::string kServer = "7D49154E40B7B66AE64C7F26DA258290836B5AB2";
const std::string kOther = "0123456789ABCDEF0123456789ABCDEF01234567";

const std::string kClean = "[GNUPG:] ENC_TO 165EBDEF177957C1 1 0\n"
                           "[GNUPG:] DECRYPTION_KEY X Y u\n"
                           "[GNUPG:] BEGIN_DECRYPTION\n"
                           "[GNUPG:] DECRYPTION_INFO 2 9 0\n"
                           "[GNUPG:] PLAINTEXT 62 0\n"
                           "[GNUPG:] DECRYPTION_OKAY\n"
                           "[GNUPG:] GOODMDC\n"
                           "[GNUPG:] END_DECRYPTION\n";

std::string signedBy(const std::string& fingerprint, const char* outcome = "GOODSIG")
{
    return "[GNUPG:] NEWSIG\n[GNUPG:] " + std::string(outcome) + " DA258290836B5AB2 name\n[GNUPG:] VALIDSIG " +
           fingerprint + " 2026-12-07 1796620330 0 4 0 1 10 00 " + fingerprint + "\n";
}

struct Case
{
    const char* name;
    std::string status;
    int exitCode;
    bool accepted;
    bool signedByServer;
};

TEST(GpgDecryptionVerdictTest, OnlyCleanDecryptionsSignedByTheServerOrUnsignedAreAccepted)
{
    const Case cases[] = {
        {"unsigned and clean", kClean, 0, true, false},
        {"signed by the server", signedBy(kServer) + kClean, 0, true, true},
        {"signed by another key", signedBy(kOther) + kClean, 0, false, false},
        {"signed twice, once by another key", signedBy(kServer) + signedBy(kOther) + kClean, 0, false, false},
        {"bad signature", "[GNUPG:] NEWSIG\n[GNUPG:] BADSIG DA258290836B5AB2 name\n" + kClean, 1, false, false},
        {"unknown signer", "[GNUPG:] NEWSIG\n[GNUPG:] ERRSIG X 1 10 00 1 9\n[GNUPG:] NO_PUBKEY X\n" + kClean, 2, false,
         false},
        {"bad signature but exit 0", "[GNUPG:] BADSIG X name\n" + kClean, 0, false, false},
        {"expired signature", "[GNUPG:] EXPSIG X\n" + kClean, 0, false, false},
        {"integrity failure", "[GNUPG:] DECRYPTION_OKAY\n[GNUPG:] BADMDC\n", 2, false, false},
        {"no integrity protection", "[GNUPG:] DECRYPTION_OKAY\n", 0, false, false},
        {"truncated", "[GNUPG:] BEGIN_DECRYPTION\n[GNUPG:] DECRYPTION_FAILED\n", 2, false, false},
        {"other key", "[GNUPG:] ENC_TO X 1 0\n[GNUPG:] NO_SECKEY X\n[GNUPG:] DECRYPTION_FAILED\n", 2, false, false},
        {"clean status but failed exit", kClean, 2, false, false},
        {"nothing at all", "", 0, false, false},
        {"status words outside status lines", "DECRYPTION_OKAY\nGOODMDC\n", 0, false, false},
        {"validsig without a fingerprint", "[GNUPG:] NEWSIG\n[GNUPG:] VALIDSIG\n" + kClean, 0, false, false},
    };
    for (const Case& test : cases) {
        const GpgDecryptionVerdict verdict = judgeGpgDecryption(test.status, test.exitCode, kServer);
        EXPECT_EQ(verdict.accepted, test.accepted) << test.name;
        EXPECT_EQ(verdict.signedByServer, test.signedByServer) << test.name;
        EXPECT_EQ(verdict.reason.empty(), test.accepted) << test.name;
    }
}

// A fingerprint setting that is not a fingerprint pins nothing: even a
// clean unsigned message, or one signed by a key whose "fingerprint" is
// that text, is refused.
TEST(GpgDecryptionVerdictTest, WithoutAValidPinEveryMessageIsRefused)
{
    for (const std::string& pin : {std::string(), std::string("NOT-A-FINGERPRINT"), kServer.substr(1)}) {
        for (const std::string& status : {kClean, signedBy(pin) + kClean, signedBy(kServer) + kClean}) {
            const GpgDecryptionVerdict verdict = judgeGpgDecryption(status, 0, pin);
            EXPECT_FALSE(verdict.accepted) << "pin \"" << pin << "\"\n" << status;
            EXPECT_EQ(verdict.reason, "no valid server key fingerprint is pinned");
        }
    }
}

} // namespace
