/*
 * nki-demo: signs a file with the token and checks the signature, using only the
 * public nki interface.
 *
 * It opens a session on the first reader that holds a token, presents the PIN,
 * makes the owner key pair when the token has none, signs the file (or a built-in
 * text), verifies the signature in the library against the owner's public key,
 * prints what it did, and closes the session.
 */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kcarlib/nki.h"

#define MAX_ELEMENT 64 /* bytes of the largest field element in tagTECParams */

static const char kDefaultPin[] = "12345678";
static const char kBuiltInText[] = "The token signs this text when no file is given.\n";

static void Usage(FILE *out) {
    fprintf(out,
            "usage: nki-demo [--pin PIN] [FILE]\n"
            "\n"
            "Opens a session on the first reader holding a token, presents the PIN\n"
            "(default %s), makes the owner key pair if the token has none, signs FILE\n"
            "(or a built-in text), verifies the signature with the owner's public key,\n"
            "and prints the token's information and the signature.\n"
            "Exit status: 0 when the signature verifies, 1 on any failure, 2 on bad usage.\n",
            kDefaultPin);
}

static const char *Describe(uint32_t rc) {
    static char text[64];
    if (rc >= NKI_E_INVALID_PIN_BASE && rc < NKI_E_INVALID_PIN_BASE + 16) {
        snprintf(text, sizeof text, "wrong PIN, %u attempts left", (unsigned)(rc - NKI_E_INVALID_PIN_BASE));
        return text;
    }
    switch (rc) {
    case NKI_OK: return "no error";
    case NKI_E_INVALID_CONTEXT: return "invalid context";
    case NKI_E_NOT_CONNECTED: return "no token found (is a token in a reader and pcscd running?)";
    case NKI_E_CONNECTION_ABORTED: return "connection to the token was lost";
    case NKI_E_DEVICE_CORRUPTED: return "the token refused the command";
    case NKI_E_DEVICE_BLOCKED: return "the PIN is blocked";
    case NKI_E_PIN_REQUIRED: return "PIN required";
    case NKI_E_OUT_OF_RANGE: return "out of range";
    case NKI_E_KEY_ABSENT: return "no key in the token";
    case NKI_E_INVALID_SIGNATURE: return "invalid signature";
    case NKI_E_BAD_ARGUMENTS: return "bad arguments";
    default: return "see kcarlib/nki_result.h";
    }
}

/* Reports a failed call; answers 1 so that callers can return it. */
static int Fail(const char *what, uint32_t rc) {
    fflush(stdout); /* keep the report after what was printed before it */
    fprintf(stderr, "nki-demo: %s failed: result %u (%s)\n", what, (unsigned)rc, Describe(rc));
    return 1;
}

static void PrintHex(const char *label, const uint8_t *bytes, size_t n) {
    printf("%s", label);
    for (size_t i = 0; i < n; ++i) printf("%s%02x", (i % 24 == 0 && i != 0) ? "\n    " : "", bytes[i]);
    printf("\n");
}

/* Reads a whole file into a fresh buffer; null (with a message) on failure. */
static uint8_t *ReadFile(const char *path, uint32_t *length) {
    const size_t limit = 0x40000000u; /* 1 GiB is plenty for a demo */
    FILE *f = fopen(path, "rb");
    if (f == NULL) {
        fprintf(stderr, "nki-demo: cannot open %s: %s\n", path, strerror(errno));
        return NULL;
    }
    size_t capacity = 0, used = 0;
    uint8_t *data = NULL;
    const char *problem = NULL;
    for (;;) {
        if (used == capacity) {
            size_t grown = capacity == 0 ? 65536 : capacity * 2;
            uint8_t *bigger = grown <= limit ? realloc(data, grown) : NULL;
            if (bigger == NULL) {
                problem = grown <= limit ? "out of memory" : "file too large";
                break;
            }
            data = bigger;
            capacity = grown;
        }
        size_t n = fread(data + used, 1, capacity - used, f);
        used += n;
        if (n == 0) {
            if (ferror(f)) problem = "read error";
            break;
        }
    }
    fclose(f);
    if (problem != NULL) {
        fprintf(stderr, "nki-demo: cannot read %s: %s\n", path, problem);
        free(data);
        return NULL;
    }
    *length = (uint32_t)used;
    return data;
}

/* Everything that needs an open session; answers the exit status. */
static int Run(NKI_CONTEXT ctx, const char *pin, const uint8_t *data, uint32_t length) {
    tagTNKIinfo info;
    uint32_t rc = nkiGetInfo(ctx, &info);
    if (rc != NKI_OK) return Fail("reading the token's information", rc);
    uint32_t field[4] = {0}, fieldLength = 0; /* index 0: m, k1, k2, k3 */
    rc = nkiGetCryptoParams(ctx, 0, field, &fieldLength);
    if (rc != NKI_OK) return Fail("reading the token's curve", rc);
    int32_t fileSize = 0;
    rc = nkiGetFileSize(ctx, &fileSize);
    if (rc != NKI_OK) return Fail("reading the user file size", rc);

    PrintHex("token serial: ", info.Serial, sizeof info.Serial);
    printf("curve: GF(2^%u), public key %u bytes, signature %u bytes, user file %d bytes\n", (unsigned)field[0],
           (unsigned)info.PointSize, (unsigned)info.SignSize, (int)fileSize);
    if (info.SignSize == 0 || info.SignSize > 2 * MAX_ELEMENT || info.PointSize > 2 * MAX_ELEMENT) {
        fprintf(stderr, "nki-demo: the token reports sizes this demo cannot handle\n");
        return 1;
    }

    rc = nkiCheckPINEx(ctx, pin, (int32_t)strlen(pin));
    if (rc != NKI_OK) return Fail("presenting the PIN", rc);
    printf("PIN accepted\n");

    uint8_t key[2 * MAX_ELEMENT];
    rc = nkiGetOwnerPublicKey(ctx, key, 0);
    if (rc == NKI_E_KEY_ABSENT) {
        printf("the token has no owner key; generating one\n");
        rc = nkiGenerateOwnerKeyPair(ctx);
        if (rc != NKI_OK) return Fail("generating the owner key pair", rc);
        rc = nkiGetOwnerPublicKey(ctx, key, 0);
    }
    if (rc != NKI_OK) return Fail("reading the owner public key", rc);
    PrintHex("owner public key (x, y): ", key, info.PointSize);

    uint8_t signature[2 * MAX_ELEMENT];
    rc = nkiInitDS(ctx, NULL); /* the token's own curve and hash parameters */
    if (rc == NKI_OK) rc = nkiSignData(ctx, data, length, signature);
    if (rc != NKI_OK) return Fail("signing", rc);
    PrintHex("signature: ", signature, info.SignSize);

    rc = nkiVerifyData(ctx, data, length, key, signature, 0);
    if (rc != NKI_OK) return Fail("verifying the signature", rc);
    printf("signature verified with the owner public key\n");
    return 0;
}

int main(int argc, char **argv) {
    const char *pin = kDefaultPin;
    const char *path = NULL;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
            Usage(stdout);
            return 0;
        } else if (strcmp(argv[i], "--pin") == 0 && i + 1 < argc) {
            pin = argv[++i];
        } else if (argv[i][0] == '-' || path != NULL) {
            Usage(stderr);
            return 2;
        } else {
            path = argv[i];
        }
    }
    if (strlen(pin) == 0 || strlen(pin) > 8) {
        fprintf(stderr, "nki-demo: the PIN has 1 to 8 characters\n");
        return 2;
    }

    printf("%s, version 0x%08x\n", nkiGetDllDescription(), (unsigned)nkiGetDllVersion());
    uint8_t *fileData = NULL;
    const uint8_t *data = (const uint8_t *)kBuiltInText;
    uint32_t length = (uint32_t)(sizeof kBuiltInText - 1);
    if (path != NULL) {
        fileData = ReadFile(path, &length);
        if (fileData == NULL) return 1;
        data = fileData;
        printf("signing %s (%u bytes)\n", path, (unsigned)length);
    } else {
        printf("signing the built-in text (%u bytes)\n", (unsigned)length);
    }

    NKI_CONTEXT ctx = NULL;
    uint32_t rc = nkiCreateContext(&ctx, NKI_KIND_ACTIVE_TOKEN);
    int status = 1;
    if (rc != NKI_OK) {
        Fail("creating a context", rc);
    } else {
        rc = nkiOpenSession(ctx, NULL, NULL);
        if (rc != NKI_OK) {
            Fail("opening a session", rc);
        } else {
            status = Run(ctx, pin, data, length);
            rc = nkiCloseSession(ctx);
            if (rc != NKI_OK) status = Fail("closing the session", rc);
            else printf("session closed\n");
        }
        nkiDestroyContext(&ctx);
    }
    free(fileData);
    return status;
}
