#include <kcarlib/nki.h>
#include <stdio.h>
#include <string.h>

int main(void) {
    NKI_CONTEXT context = 0; /* an integer in this library */
    char text[NKI_MAX_RESULT_TEXT];
    if (nkiCreateContext(&context, NKI_KIND_ACTIVE_TOKEN) != NKI_OK || context <= 0) return 1;
    if (nkiGetUID(context, NULL) != NKI_E_NOT_CONNECTED) return 2;
    if (nkiErrorMsgLang(NKI_E_PIN_REQUIRED, 0x0409, text) != NKI_OK || strcmp(text, "PIN required") != 0) return 3;
    if (nkiDestroyContext(&context) != NKI_OK || context != 0) return 4;
    printf("%u %s\n", nkiGetDllVersion(), nkiGetDllDescription());
    return 0;
}
