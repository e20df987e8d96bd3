/* A minimal host for PDT.dll, in C.
 *
 *   host.exe            reads the terminal and prints the records
 *   host.exe configure  shows the driver's settings dialog
 *
 * Build (32-bit host for the 32-bit DLL; use x86_64-w64-mingw32-gcc with the
 * 64-bit DLL):
 *   i686-w64-mingw32-gcc -o host.exe host.c -loleaut32
 */
#include <windows.h>
#include <oleauto.h>
#include <stdio.h>
#include <string.h>

/* The driver object's two operations. Both are stdcall and take the object
 * as their LAST argument: ReceiveData(&result, object), Configure(object). */
typedef void(__stdcall *ReceiveDataFn)(VARIANT *result, void *object);
typedef void(__stdcall *ConfigureFn)(void *object);
/* InitDll takes nothing and removes nothing from the stack. */
typedef void **(*InitDllFn)(void);

/* Prints a BSTR as UTF-8. */
static void PrintBstr(BSTR text) {
    char buffer[1024];
    int n = WideCharToMultiByte(CP_UTF8, 0, text, (int)SysStringLen(text), buffer,
                                sizeof buffer - 1, NULL, NULL);
    buffer[n > 0 ? n : 0] = '\0';
    fputs(buffer, stdout);
}

/* One element of the result: a VT_ARRAY|VT_VARIANT pair [barcode, quantity]. */
static int PrintRecord(VARIANT *pair) {
    LONG index;
    VARIANT barcode, quantity;
    if (V_VT(pair) != (VT_ARRAY | VT_VARIANT)) return 0;
    VariantInit(&barcode);
    VariantInit(&quantity);
    index = 0;
    SafeArrayGetElement(V_ARRAY(pair), &index, &barcode); /* VT_BSTR */
    index = 1;
    SafeArrayGetElement(V_ARRAY(pair), &index, &quantity); /* VT_I4 */
    if (V_VT(&barcode) == VT_BSTR && V_VT(&quantity) == VT_I4) {
        PrintBstr(V_BSTR(&barcode));
        printf("\t%ld\n", (long)V_I4(&quantity));
    }
    VariantClear(&barcode);
    VariantClear(&quantity);
    return 1;
}

static int PrintResult(VARIANT *result) {
    LONG low, high, i;
    switch (V_VT(result)) {
    case VT_EMPTY: /* untouched: Cancel, or OK without records */
        puts("no records (cancelled or nothing received)");
        return 0;
    case VT_NULL: /* the reading failed; the driver's log says why */
        puts("the reading failed");
        return 1;
    case VT_ARRAY | VT_VARIANT:
        break;
    default:
        printf("unexpected result type %u\n", (unsigned)V_VT(result));
        return 1;
    }
    SafeArrayGetLBound(V_ARRAY(result), 1, &low);  /* 0 */
    SafeArrayGetUBound(V_ARRAY(result), 1, &high); /* n - 1 */
    for (i = low; i <= high; ++i) {
        VARIANT pair;
        VariantInit(&pair);
        SafeArrayGetElement(V_ARRAY(result), &i, &pair);
        PrintRecord(&pair);
        VariantClear(&pair);
    }
    return 0;
}

int main(int argc, char **argv) {
    HMODULE library = LoadLibraryA("PDT.dll");
    InitDllFn initDll;
    void **reference, *object, **table;
    VARIANT result;
    int status = 0;

    if (!library) {
        fprintf(stderr, "cannot load PDT.dll (error %lu)\n", GetLastError());
        return 1;
    }
    initDll = (InitDllFn)(void (*)(void))GetProcAddress(library, "InitDll");
    if (!initDll) {
        fprintf(stderr, "PDT.dll has no InitDll\n");
        FreeLibrary(library);
        return 1;
    }
    reference = initDll();  /* P: address of the driver reference */
    object = *reference;    /* O: the driver object */
    table = *(void ***)object; /* T: its table of operations */

    if (argc > 1 && strcmp(argv[1], "configure") == 0) {
        ((ConfigureFn)table[1])(object);
    } else {
        VariantInit(&result); /* VT_EMPTY; the driver may leave it so */
        ((ReceiveDataFn)table[0])(&result, object);
        status = PrintResult(&result);
        VariantClear(&result);
    }
    /* The driver object belongs to the library: never free it. */
    FreeLibrary(library);
    return status;
}
