/*
 * The library computes with an OpenSSL of its own, whatever the host configured,
 * leaves the host's OpenSSL as the host set it up, and no OpenSSL failure ends
 * the host's process. Each case runs in a child that this host execs with the
 * case's name, so that the child meets OpenSSL as it is set up before the
 * library is loaded:
 *
 * - fips-env, fips-init, fips-conf: the host's OpenSSL configuration sets
 *   default_properties = "fips=yes", as systems in FIPS mode do, and no provider
 *   here meets it, so that every fetch from OpenSSL's default context fails. The
 *   file is named by OPENSSL_CONF in the child's environment before the library
 *   is loaded, or the host loads it itself before it loads the library
 *   (OPENSSL_init_crypto with OPENSSL_INIT_LOAD_CONFIG and the file, or
 *   CONF_modules_load_file). All five calls succeed (setup, key generation,
 *   reading the key files, encryption, decryption), and they and a decryption
 *   with the key of another identity leave the OpenSSL error queue of the
 *   host's thread as it was: one error of the host's own, queued before, and
 *   nothing else. The bytes are those of a process without the
 *   configuration: the child decrypts a message that this process made, and this
 *   process, which never loads the configuration, decrypts the child's message
 *   with the child's key.
 * - fips-after: the host loads that configuration itself only after the five
 *   calls, and it is in force: the library's calls have not loaded a
 *   configuration of their own choosing into OpenSSL's default context, which
 *   OpenSSL does once per process and would then refuse the host's.
 * - no-digests, no-ciphers: the host's OpenSSL has no digests, or no ciphers, to
 *   give the library (this host defines OSSL_PROVIDER_query_operation, and is
 *   linked to export it, so the library's reference binds here). Setup still
 *   succeeds; key generation returns 1 without digests and leaves no key file;
 *   encryption fails with its error on standard output, decryption fails; the
 *   child lives on.
 *
 *   openssl_test path/to/libhibe.so scratch-directory
 */
#define _GNU_SOURCE
#include <openssl/conf.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <stdatomic.h>
#include <sys/wait.h>

#include "host_expect.h"
#include "host_lib.h"

/* A child that has not finished by then is stuck: the alarm ends it. */
enum { kDepth = 3, kChildSeconds = 120, kAllSeconds = 600 };

static const char kConfig[] =
    "openssl_conf = openssl_init\n"
    "\n"
    "[openssl_init]\n"
    "alg_section = evp_properties\n"
    "\n"
    "[evp_properties]\n"
    "default_properties = \"fips=yes\"\n";

static const char kMessage[] = "a message across OpenSSL configurations";

/* The reason code of the error that a host queues on its own thread. */
enum { kHostReason = 42 };

/* How a case's host sets its OpenSSL configuration up: not at all, through
   OPENSSL_CONF, through OPENSSL_init_crypto or through CONF_modules_load_file. */
typedef enum { kNoConfig, kConfigByEnvironment, kConfigByInit, kConfigByConfModules } Config;

static const struct {
    const char* name;
    Config config;
    int loadedAfterCalls; /* the host loads the configuration after the calls */
    int withheld;         /* the operation whose algorithms OpenSSL withholds, or 0 */
    const char* encryptError;
} kCases[] = {
    {"fips-env", kConfigByEnvironment, 0, 0, NULL},
    {"fips-init", kConfigByInit, 0, 0, NULL},
    {"fips-conf", kConfigByConfModules, 0, 0, NULL},
    {"fips-after", kConfigByInit, 1, 0, NULL},
    {"no-digests", kNoConfig, 0, OSSL_OP_DIGEST, "digest computation failed"},
    {"no-ciphers", kNoConfig, 0, OSSL_OP_CIPHER,
     "AES GCM encryption fails: GCM operation failed"},
};
enum { kCaseCount = sizeof kCases / sizeof kCases[0] };

/* The OSSL_PROVIDER_query_operation of this host (see the top of the file):
   gives no algorithms of the operation withheld, else passes the call on to
   OpenSSL's, which main finds before anything can call this one. */
static atomic_int withheld = 0;
static const OSSL_ALGORITHM* (*realQuery)(const OSSL_PROVIDER*, int, int*);

__attribute__((visibility("default"))) const OSSL_ALGORITHM* OSSL_PROVIDER_query_operation(
    const OSSL_PROVIDER* provider, int operation, int* noStore) {
    if (operation == atomic_load(&withheld)) {
        *noStore = 0;
        return NULL;
    }
    return realQuery(provider, operation, noStore);
}

static int writeFile(const char* path, const void* data, size_t n) {
    FILE* f = fopen(path, "wb");
    if (f == NULL) return 0;
    const int ok = fwrite(data, 1, n, f) == n;
    return fclose(f) == 0 && ok;
}

/* The paths of the organisation "org" under root and of id's key file. */
typedef struct {
    char params[4096], master[4096], key[4096], map[4096];
} Org;

static void orgPaths(Org* org, const char* root, const char* keyName) {
    char name[4096];
    joinPath(org->params, root, "org/org.params");
    joinPath(org->master, root, "org/org.masterKey");
    snprintf(name, sizeof name, "privateKeys/%s.privateKey", keyName);
    joinPath(org->key, root, name);
    joinPath(org->map, root, "map.json");
}

/* The message map of kMessage for id with the params file; r0 NULL when the
   params file cannot be read. */
static EncryptHibeMsg_return encryptFor(const char* paramsPath, const char* id) {
    EncryptHibeMsg_return map = {NULL, -1};
    ReadKey_return params = hibe.readKey(ref(paramsPath));
    if (params.r0 == NULL) return map;
    const void* paramsValue = params.r0;
    int paramsLen = (int)params.r1;
    HibeList ids = HibeListOfStrings(1, &id, NULL);
    HibeList paramsList = HibeListOfBytes(1, &paramsValue, &paramsLen);
    map = hibe.encrypt((char*)kMessage, (int)strlen(kMessage), ids.p, ids.n, paramsList.p,
                       paramsList.n, 0);
    HibeListFree(&ids);
    HibeListFree(&paramsList);
    free(params.r0);
    return map;
}

/* Writes the message map of kMessage for id into mapPath; whether it succeeded. */
static int encryptToFile(const char* paramsPath, const char* id, const char* mapPath) {
    EncryptHibeMsg_return map = encryptFor(paramsPath, id);
    const int ok = map.r0 != NULL && !(map.r1 == 4 && memcmp(map.r0, "null", 4) == 0) &&
                   writeFile(mapPath, map.r0, (size_t)map.r1);
    free(map.r0);
    return ok;
}

/* Whether the map in mapPath decrypts to kMessage as id, with the params file
   and id's key file. */
static int decryptsFile(const char* paramsPath, const char* keyPath, const char* id,
                        const char* mapPath) {
    ReadKey_return map = hibe.readKey(ref(mapPath));
    ReadKey_return params = hibe.readKey(ref(paramsPath));
    ReadKey_return key = hibe.readKey(ref(keyPath));
    int ok = 0;
    if (map.r0 != NULL && params.r0 != NULL && key.r0 != NULL) {
        DecryptHibeMsg_return plain =
            hibe.decrypt((char*)id, (int)strlen(id), params.r0, (int)params.r1, key.r0,
                         (int)key.r1, map.r0, (int)map.r1, 0);
        ok = plain.r0 != NULL && plain.r1 == (int64_t)strlen(kMessage) &&
             memcmp(plain.r0, kMessage, strlen(kMessage)) == 0;
        free(plain.r0);
    }
    free(map.r0);
    free(params.r0);
    free(key.r0);
    return ok;
}

/* Whether the host's configuration is in force: the default context fetches no
   SHA-256, since no provider meets fips=yes. Leaves no error queued. */
static int fipsInForce(void) {
    EVP_MD* md = EVP_MD_fetch(NULL, "SHA2-256", NULL);
    const int inForce = md == NULL;
    EVP_MD_free(md);
    ERR_clear_error();
    return inForce;
}

/* Loads the configuration file into OpenSSL's default context the way the
   host of the case does; whether OpenSSL took it. */
static int loadConfig(Config config, const char* path) {
    if (config == kConfigByConfModules) return CONF_modules_load_file(path, NULL, 0) > 0;
    OPENSSL_INIT_SETTINGS* settings = OPENSSL_INIT_new();
    const int loaded = settings != NULL && OPENSSL_INIT_set_config_filename(settings, path) == 1 &&
                       OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CONFIG, settings) == 1;
    OPENSSL_INIT_free(settings);
    return loaded;
}

/* Whether the encryption of kMessage for id fails and writes exactly the text
   error to standard output (sent to the file outPath meanwhile). */
static int encryptionFailsWith(const char* paramsPath, const char* id, const char* outPath,
                               const char* error) {
    const int saved = dup(1);
    const int out = open(outPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (saved < 0 || out < 0 || dup2(out, 1) != 1) return 0;
    close(out);
    EncryptHibeMsg_return map = encryptFor(paramsPath, id);
    dup2(saved, 1);
    close(saved);
    const int failed = map.r0 != NULL && map.r1 == 4 && memcmp(map.r0, "null", 4) == 0;
    free(map.r0);
    ReadKey_return written = hibe.readKey(ref(outPath));
    const int said = written.r0 != NULL && written.r1 == (int64_t)strlen(error) &&
                     memcmp(written.r0, error, strlen(error)) == 0;
    free(written.r0);
    return failed && said;
}

/* A step of a child: when cond fails, says which and returns code. */
#define STEP(cond, code)                                     \
    do {                                                     \
        if (!(cond)) {                                       \
            fprintf(stderr, "%s: %s failed\n", name, #cond); \
            return code;                                     \
        }                                                    \
    } while (0)

/* The child of case i (see the top of the file); home holds the organisation
   and the message of the parent, and root what this child makes. */
static int child(const char* lib, const char* scratch, const char* name) {
    alarm(kChildSeconds);
    int i = 0;
    while (i < kCaseCount && strcmp(kCases[i].name, name) != 0) ++i;
    if (i == kCaseCount) return 2;
    char root[4096], config[4096], homeRoot[4096], out[4096];
    joinPath(root, scratch, name);
    joinPath(config, scratch, "fips.cnf");
    joinPath(homeRoot, scratch, "home");
    joinPath(out, root, "stdout");
    Org org, home;
    orgPaths(&org, root, "A#B");
    orgPaths(&home, homeRoot, "P#Q");
    const Config how = kCases[i].config;

    const int before = (how == kConfigByInit || how == kConfigByConfModules) &&
                       !kCases[i].loadedAfterCalls;
    if (before) {
        STEP(loadConfig(how, config), 10);
        STEP(fipsInForce(), 11);
    }
    /* An error of the host's own, queued on this thread before the library is
       loaded, stays queued through the calls that succeed. */
    ERR_clear_error();
    ERR_raise(ERR_LIB_USER, kHostReason);
    const unsigned long hostError = ERR_peek_error();
    atomic_store(&withheld, kCases[i].withheld);
    loadHibe(lib);

    STEP(hibe.setup(kDepth, ref("org"), ref(root)) == 0, 1);
    if (kCases[i].withheld != 0) {
        /* No digest: no identity is hashed. No cipher: keys are still made. */
        const int64_t result = kCases[i].withheld == OSSL_OP_DIGEST ? 1 : 0;
        STEP(hibe.keyGen(ref("A/B"), ref(root), ref(org.master), ref(org.params)) == result, 2);
        STEP(exists(org.key) == (result == 0), 3);
        STEP(encryptionFailsWith(org.params, "A/B", out, kCases[i].encryptError), 4);
        STEP(!decryptsFile(home.params, home.key, "P/Q", home.map), 5);
        return 0;
    }
    STEP(hibe.keyGen(ref("A/B"), ref(root), ref(org.master), ref(org.params)) == 0, 2);
    STEP(encryptToFile(org.params, "A/B", org.map), 3);
    STEP(decryptsFile(org.params, org.key, "A/B", org.map), 4);
    STEP(decryptsFile(home.params, home.key, "P/Q", home.map), 5);
    /* A key of another identity: the message key is wrong, the tag does not
       match. */
    STEP(!decryptsFile(org.params, home.key, "A/B", org.map), 9);
    STEP(ERR_peek_error() == hostError && ERR_peek_last_error() == hostError, 6);
    ERR_clear_error();
    /* With OPENSSL_CONF the host's first use of OpenSSL loads the file: the
       check waits until the library has made its calls. */
    if (kCases[i].loadedAfterCalls) STEP(loadConfig(how, config), 7);
    STEP(fipsInForce(), 8);
    return 0;
}

extern char** environ;

/* Runs case i in a child exec'd from this program, with this environment
   without any OPENSSL_ variable, and OPENSSL_CONF naming config where the case
   says so; its exit status, or 100 + the signal that ended it. */
static int runChild(const char* self, const char* lib, const char* scratch, int i,
                    const char* config) {
    char conf[4200];
    snprintf(conf, sizeof conf, "OPENSSL_CONF=%s", config);
    size_t n = 0;
    while (environ[n] != NULL) ++n;
    char** env = calloc(n + 2, sizeof *env);
    if (env == NULL) abort();
    size_t kept = 0;
    for (size_t k = 0; k < n; ++k) {
        if (strncmp(environ[k], "OPENSSL_", 8) != 0) env[kept++] = environ[k];
    }
    if (kCases[i].config == kConfigByEnvironment) env[kept++] = conf;
    env[kept] = NULL;
    char* args[] = {(char*)self, (char*)lib, (char*)scratch, (char*)kCases[i].name, NULL};

    const pid_t pid = fork();
    if (pid < 0) abort();
    if (pid == 0) {
        execve("/proc/self/exe", args, env);
        _exit(3);
    }
    free(env);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

int main(int argc, char** argv) {
    *(void**)&realQuery = dlsym(RTLD_NEXT, "OSSL_PROVIDER_query_operation");
    if (realQuery == NULL) abort();
    if (argc == 4) return child(argv[1], argv[2], argv[3]);
    if (argc != 3) {
        fprintf(stderr, "usage: %s path/to/libhibe.so scratch-directory\n", argv[0]);
        return 2;
    }
    alarm(kAllSeconds);
    const char* lib = argv[1];
    const char* scratch = argv[2];
    char cmd[4200], config[4096], homeRoot[4096];
    snprintf(cmd, sizeof cmd, "rm -rf '%s' && mkdir -p '%s'", scratch, scratch);
    if (system(cmd) != 0) return 1;
    joinPath(config, scratch, "fips.cnf");
    if (!writeFile(config, kConfig, strlen(kConfig))) return 1;

    /* This process never loads the configuration: its organisation and message
       are made without it. */
    loadHibe(lib);
    silenceStdout();
    Org home;
    joinPath(homeRoot, scratch, "home");
    orgPaths(&home, homeRoot, "P#Q");
    EXPECT(hibe.setup(kDepth, ref("org"), ref(homeRoot)) == 0, "home");
    EXPECT(hibe.keyGen(ref("P/Q"), ref(homeRoot), ref(home.master), ref(home.params)) == 0,
           "home");
    EXPECT(encryptToFile(home.params, "P/Q", home.map), "home");

    for (int i = 0; i < kCaseCount; ++i) {
        char where[128], root[4096];
        const int status = runChild(argv[0], lib, scratch, i, config);
        snprintf(where, sizeof where, "%s (child status %d)", kCases[i].name, status);
        EXPECT(status == 0, where);
        if (kCases[i].withheld != 0) continue;
        Org org;
        joinPath(root, scratch, kCases[i].name);
        orgPaths(&org, root, "A#B");
        EXPECT(decryptsFile(org.params, org.key, "A/B", org.map), where);
    }
    fprintf(stderr, "%d failures\n", failures);
    return failures == 0 ? 0 : 1;
}
