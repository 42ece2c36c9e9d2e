// Result texts: English and Russian (code page 1251 bytes), the counted ranges and
// unknown codes, through the multi-carrier build's nkiErrorMsgLang.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "kcarlib/nki.h"

namespace {

TEST(ErrorTexts, ByteForByte) {
    struct Case {
        int32_t code, language;
        const char *text;
    } cases[] = {
        {0, 0x419, "\323\361\357\345\370\355\356"},  // Успешно
        {0, 0x409, "No errors"},  // No errors
        {0, 0x0, "No errors"},  // No errors
        {0, 0x19, "\323\361\357\345\370\355\356"},  // Успешно
        {0, 0x1119, "\323\361\357\345\370\355\356"},  // Успешно
        {0, 0x10019, "\323\361\357\345\370\355\356"},  // Успешно
        {227, 0x0, "Invalid PIN (3 attempts remain)"},  // Invalid PIN (3 attempts remain)
        {192, 0x19, "\315\345\342\345\360\355\373\351 \352\356\344 \360\340\347\341\353\356\352\350\360\356\342\352\350 (\356\361\362\340\353\356\361\374 0 \357\356\357\373\362\356\352)"},  // Неверный код разблокировки (осталось 0 попыток)
        {239, 0x419, "\315\345\342\345\360\355\373\351 \317\310\315-\352\356\344 (\356\361\362\340\353\356\361\374 15 \357\356\357\373\362\356\352)"},  // Неверный ПИН-код (осталось 15 попыток)
        {66, 0x0, "Invalid PIN or PUK length. The length of PIN (or PUK) must not exceed 16 characters"},  // Invalid PIN or PUK length. The length of PIN (or PUK) must not exceed 16 characters
        {64, 0x0, "Invalid PIN or PUK length. The length of PIN (or PUK) must not exceed 0 characters"},  // Invalid PIN or PUK length. The length of PIN (or PUK) must not exceed 0 characters
        {79, 0x0, "Invalid PIN or PUK length. The length of PIN (or PUK) must not exceed 120 characters"},  // Invalid PIN or PUK length. The length of PIN (or PUK) must not exceed 120 characters
        {79, 0x19, "\315\345\344\356\357\363\361\362\350\354\340\377 \344\353\350\355\340 \352\356\344\340. \304\353\350\355\340 \352\356\344\340 \355\345 \344\356\353\346\355\340 \357\360\345\342\373\370\340\362\374 120 \361\350\354\342\356\353\356\342"},  // Недопустимая длина кода. Длина кода не должна превышать 120 символов
        {256, 0x0, "Unknown error"},  // Unknown error
        {300, 0x19, "\315\345\350\347\342\345\361\362\355\340\377 \356\370\350\341\352\340"},  // Неизвестная ошибка
        {-1, 0x0, "Unknown error"},  // Unknown error
        {8, 0x19, "\315\345\350\347\342\345\361\362\355\340\377 \356\370\350\341\352\340"},  // Неизвестная ошибка
        {249, 0x0, "Unknown error"},  // Unknown error
        {255, 0x0, "Fail"},  // Fail
        {255, 0x19, "\321\341\356\351 \357\360\356\343\360\340\354\354\373"},  // Сбой программы
        {105, 0x19, "\322\356\352\345\355 \347\340\371\350\371\270\355 \366\350\364\360\356\342\356\351 \357\356\344\357\350\361\374\376"},  // Токен защищён цифровой подписью
        {58, 0x0, "Data is damaged or an attempt to use other key is executed"},  // Data is damaged or an attempt to use other key is executed
        {58, 0x19, "\304\340\355\355\373\345 \357\356\342\360\345\346\344\345\355\373 \350\353\350 \342\373\357\356\353\355\345\355\340 \357\356\357\373\362\352\340 \350\361\357\356\353\374\347\356\342\340\362\374 \344\360\363\343\356\351 \352\353\376\367"},  // Данные повреждены или выполнена попытка использовать другой ключ
        {254, 0x0, "Tarnex internal error"},  // Tarnex internal error
        {3, 0x0, "Device haven't connected"},  // Device haven't connected
        {50, 0x0, "Unsupported algorythm of digital sign"},  // Unsupported algorythm of digital sign
    };
    for (const Case &c : cases) {
        char text[NKI_MAX_RESULT_TEXT + 8];
        std::memset(text, 0x5A, sizeof text);
        ASSERT_EQ(nkiErrorMsgLang(c.code, c.language, text), NKI_OK);
        EXPECT_EQ(std::string(text), std::string(c.text)) << c.code << " " << c.language;
    }
}

TEST(ErrorTexts, EveryTextFitsItsRoomAndEnglishMatchesTheHeader) {
    for (int64_t code = -2; code < 300; ++code) {
        char russian[NKI_MAX_RESULT_TEXT + 1] = {}, english[NKI_MAX_RESULT_TEXT + 1] = {}, shared[NKI_MAX_RESULT_TEXT + 1] = {};
        ASSERT_EQ(nkiErrorMsgLang(static_cast<int32_t>(code), 0x19, russian), NKI_OK);
        ASSERT_EQ(nkiErrorMsgLang(static_cast<int32_t>(code), 0x09, english), NKI_OK);
        nkiResultText(static_cast<uint32_t>(code), shared);
        EXPECT_LT(std::strlen(russian), 69u) << code;
        EXPECT_LT(std::strlen(english), std::size_t(NKI_MAX_RESULT_TEXT)) << code;
        EXPECT_STREQ(english, shared) << code;
    }
}

TEST(ErrorTexts, NullTextIsRefused) { EXPECT_EQ(nkiErrorMsgLang(0, 0, nullptr), NKI_E_BAD_ARGUMENTS); }

}  // namespace
