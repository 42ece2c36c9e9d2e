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

/* Feeds the file (or the built-in text when path is null) to the signature hash
 * stream in 64 KiB pieces, so that a file of any size needs no more memory. */
static int StreamToSignature(NKI_CONTEXT ctx, const char *path, uint64_t *total) {
    *total = 0;
    if (path == NULL) {
        uint32_t rc = nkiDSLoadData(ctx, kBuiltInText, (uint32_t)(sizeof kBuiltInText - 1));
        *total = sizeof kBuiltInText - 1;
        return rc == NKI_OK ? 0 : Fail("hashing the text", rc);
    }
    FILE *f = fopen(path, "rb");
    if (f == NULL) {
        fflush(stdout);
        fprintf(stderr, "nki-demo: cannot open %s: %s\n", path, strerror(errno));
        return 1;
    }
    static uint8_t buffer[65536];
    size_t n;
    int status = 0;
    while (status == 0 && (n = fread(buffer, 1, sizeof buffer, f)) > 0) {
        uint32_t rc = nkiDSLoadData(ctx, buffer, (uint32_t)n);
        if (rc != NKI_OK) status = Fail("hashing the file", rc);
        *total += n;
    }
    if (status == 0 && ferror(f)) {
        fflush(stdout);
        fprintf(stderr, "nki-demo: cannot read %s\n", path);
        status = 1;
    }
    fclose(f);
    return status;
}

/* Everything that needs an open session; answers the exit status. */
static int Run(NKI_CONTEXT ctx, const char *pin, const char *path) {
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

    /* Sign: the token's own curve and hash parameters, the message streamed into
     * the signature hash, the token signs the hash. */
    uint8_t signature[2 * MAX_ELEMENT];
    uint64_t total = 0;
    rc = nkiInitDS(ctx, NULL);
    if (rc != NKI_OK) return Fail("preparing the signature", rc);
    if (StreamToSignature(ctx, path, &total) != 0) return 1;
    rc = nkiSignFinal(ctx, signature);
    if (rc != NKI_OK) return Fail("signing", rc);
    printf("signed %s (%llu bytes)\n", path != NULL ? path : "the built-in text", (unsigned long long)total);
    PrintHex("signature: ", signature, info.SignSize);

    /* Verify: the same stream again, checked in the library with the public key. */
    rc = nkiInitDS(ctx, NULL);
    if (rc != NKI_OK) return Fail("preparing the verification", rc);
    if (StreamToSignature(ctx, path, &total) != 0) return 1;
    rc = nkiVerifyFinal(ctx, key, signature, 0);
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
    if (path != NULL) {
        FILE *probe = fopen(path, "rb");
        if (probe == NULL) {
            fprintf(stderr, "nki-demo: cannot open %s: %s\n", path, strerror(errno));
            return 1;
        }
        fclose(probe);
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
            status = Run(ctx, pin, path);
            rc = nkiCloseSession(ctx);
            if (rc != NKI_OK) status = Fail("closing the session", rc);
            else printf("session closed\n");
        }
        nkiDestroyContext(&ctx);
    }
    return status;
}
