#include <kcarlib/nki.h>
#include <stdio.h>

int main(void) {
    NKI_CONTEXT context = NULL;
    if (nkiCreateContext(&context, NKI_KIND_ACTIVE_TOKEN) != NKI_OK) return 1;
    if (nkiGetUID(context, NULL) != NKI_E_NOT_CONNECTED) return 2;
    if (nkiDestroyContext(&context) != NKI_OK || context != NULL) return 3;
    printf("%u %s\n", nkiGetDllVersion(), nkiGetDllDescription());
    return 0;
}
