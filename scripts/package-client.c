/* A client of the installed driver library, built through pkg-config against the unpacked
 * development package: finds the instrument on the port given and prints its identity. */
#include <KESTRAdrv.h>

#include <stdio.h>
#include <string.h>

static void toText16(const char* in, char16_t* out, size_t size)
{
    size_t i = 0;
    for (; in[i] && i + 1 < size; ++i)
        out[i] = (unsigned char)in[i];
    out[i] = 0;
}

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: %s LOG-DIR PORT\n", argv[0]);
        return 2;
    }
    char16_t logDir[512], port[512], id[KESTRADRV_TEXT_SIZE];
    toText16(argv[1], logDir, sizeof logDir / sizeof logDir[0]);
    toText16(argv[2], port, sizeof port / sizeof port[0]);
    if (!KESTRAdrv_Init(logDir, port, 115200)) {
        fprintf(stderr, "cannot open %s\n", argv[2]);
        return 1;
    }
    const int found = KESTRAdrv_FindDevice(id, NULL);
    KESTRAdrv_Close();
    if (!found) {
        fprintf(stderr, "no instrument on %s\n", argv[2]);
        return 1;
    }
    for (size_t i = 0; i < KESTRADRV_TEXT_SIZE && id[i]; ++i)
        putchar(id[i] < 128 ? (int)id[i] : '?');
    putchar('\n');
    return 0;
}
