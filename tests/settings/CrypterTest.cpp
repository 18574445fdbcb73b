#include "settings/AppError.h"
#include "settings/VtkModule.h"

#include <gtest/gtest.h>

#include <string>

using VtkModule::Decrypt;
using VtkModule::Encrypt;

namespace {

// The scrambler's definition, one step at a time, to hold the closed forms to.
std::string stepUp(const std::string& text, int n) {
    std::string out;
    for (char ch : text) {
        int c = static_cast<unsigned char>(ch);
        for (int i = 0; i < n; ++i) {
            if (++c > 255) {
                c = 32;
            }
        }
        out += static_cast<char>(c);
    }
    return out;
}

std::string stepDown(const std::string& text, int n) {
    std::string out;
    for (char ch : text) {
        int c = static_cast<unsigned char>(ch);
        for (int i = 0; i < n; ++i) {
            if (--c < 32) {
                c = 255;
            }
        }
        out += static_cast<char>(c);
    }
    return out;
}

std::string allCodes(int from, int to) {
    std::string s;
    for (int c = from; c <= to; ++c) {
        s += static_cast<char>(c);
    }
    return s;
}

const int Numbers[] = {0, 1, 2, 29, 31, 32, 100, 223, 224, 225, 255, 256, 447, 448, 1000, 4481, 32765, 32766};

} // namespace

TEST(Crypter, EveryCodeMovesAsTheStepLoopMovesIt) {
    const std::string codes = allCodes(1, 255);
    for (int n : Numbers) {
        EXPECT_EQ(Encrypt(codes, static_cast<int16_t>(n)), stepUp(codes, n)) << "EncryptNumber " << n;
        EXPECT_EQ(Decrypt(codes, static_cast<int16_t>(n)), stepDown(codes, n)) << "DecryptNumber " << n;
    }
}

TEST(Crypter, RingCodesComeBackForEveryNumber) {
    const std::string ring = allCodes(32, 255);
    for (int n = 0; n <= 32766; n += 97) {
        ASSERT_EQ(Decrypt(Encrypt(ring, static_cast<int16_t>(n)), static_cast<int16_t>(n)), ring) << n;
    }
    EXPECT_EQ(Decrypt(Encrypt(ring, 32766), 32766), ring);
}

TEST(Crypter, ControlCharactersDoNotComeBackUnlessTheNumberIsZero) {
    EXPECT_EQ(Decrypt(Encrypt("a\tb", 0), 0), "a\tb");
    for (int n : {1, 29, 224, 32766}) {
        const std::string back = Decrypt(Encrypt("a\tb", static_cast<int16_t>(n)), static_cast<int16_t>(n));
        EXPECT_NE(back, "a\tb") << n;
        EXPECT_EQ(back.size(), 3u);
    }
}

TEST(Crypter, TheRingWrapsBetween255AndTheSpace) {
    EXPECT_EQ(Encrypt("\xFF", 1), " ");
    EXPECT_EQ(Decrypt(" ", 1), "\xFF");
    EXPECT_EQ(Encrypt("abc", 224), "abc");
    EXPECT_EQ(Encrypt("abc", 448), "abc");
}

TEST(Crypter, EmptyTextZeroAndNegativeNumbersLeaveTextAlone) {
    EXPECT_EQ(Encrypt("", 29), "");
    EXPECT_EQ(Decrypt("", 29), "");
    EXPECT_EQ(Encrypt("Pass\tword", 0), "Pass\tword");
    EXPECT_EQ(Encrypt("Pass\tword", -1), "Pass\tword");
    EXPECT_EQ(Decrypt("Pass\tword", -32768), "Pass\tword");
}

TEST(Crypter, TheLargestNumberIsRefusedWithTheCrypterErrorNamingTheArgument) {
    for (const auto& [routine, argument] :
         {std::pair{&Encrypt, "EncryptNumber"}, std::pair{&Decrypt, "DecryptNumber"}}) {
        EXPECT_NO_THROW(routine("x", 32766)) << argument;
        try {
            routine("x", 32767);
            ADD_FAILURE() << argument << " 32767 was accepted";
        } catch (const AppError& e) {
            EXPECT_EQ(e.number(), 10);
            EXPECT_EQ(e.source(), "Crypter");
            EXPECT_EQ(e.description(),
                      "'" + std::string(argument) + "' is an integer, and may not be greater than 32766!");
        }
    }
}

TEST(Crypter, DecryptStopsAtItsSixteenBitLengthWhileEncryptGoesOn) {
    const std::string longest(32767, 'a');
    EXPECT_EQ(Decrypt(longest, 1).size(), 32767u);
    const std::string tooLong(32768, 'a');
    EXPECT_EQ(Encrypt(tooLong, 1).size(), 32768u);
    try {
        Decrypt(tooLong, 1);
        FAIL() << "Decrypt took 32768 characters";
    } catch (const AppError& e) {
        EXPECT_EQ(e.number(), ErrorNumber::Overflow);
    }
}
