/* qelplace.dll: places a delivered release into an install folder as one transaction, and
   removes an install.

   A host starts one job per install folder. The job's worker takes the folder's lock, finishes
   whatever a killed run left (from its journal) and removes stale staging, then waits in the
   open phase: the host adds the release's parts (each a qelfetch manifest with its work
   directory), delivers them, and commits. Placing moves every existing target aside before the
   new file goes in, and undoes every step on a failure or a cancel; the install record
   (qel-install.ini) is written last, and that rename is the commit point. RemoveStart runs an
   uninstall the same way. Both are polled, cancelled and closed like a qelfetch job.

   All exports use the stdcall convention and 32-bit arguments; none of them blocks except
   PlaceClose, and none shows UI, logs or raises an error. */
#ifndef QEL_PLACEMENT_PLACE_H
#define QEL_PLACEMENT_PLACE_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct PlaceJob PlaceJob;

enum PlacePhase {
    PLACE_PREPARING = 1,  /* lock, recovery of a killed run, stale staging removed */
    PLACE_OPEN = 2,       /* waiting for parts and the commit (install jobs only) */
    PLACE_STAGING = 3,    /* copying parts from a host's own work directory */
    PLACE_PLACING = 4,    /* files moved aside and in, the record; or removed (uninstall) */
    PLACE_DONE = 5,
    PLACE_FAILED = 6,
    PLACE_CANCELLED = 7
};

/* Starts an install job for installDir (created when missing) that will record version (at
   most 127 units; may be empty). Returns the job, or null when an argument is null, the
   folder is empty or its absolute form is longer than 900 units, the version is too long or
   holds a control character, or no thread could be started. */
PlaceJob* WINAPI PlaceStart(const wchar_t* installDir, const wchar_t* version);

/* Adds a part in the open phase: reads the release manifest, checks its names (against every
   earlier part too) and writes the work directory to deliver into (inside the install folder's
   staging, not yet existing; 1024 units always suffice) to workDir. 1 when added. 0 when an
   argument is bad or the job is not open (nothing changes), or when the part is refused: the
   job has then failed and its status says why. */
int WINAPI PlaceAddPart(PlaceJob* job, const wchar_t* manifestPath, wchar_t* workDir, int capacity);

/* Adds a part whose files the host has ready in workDir (entry i as workDir\000i, as qelfetch
   leaves them). The files are moved from there when workDir is on the install folder's volume,
   else copied into staging before anything is replaced. Results as PlaceAddPart. */
int WINAPI PlaceAddFiles(PlaceJob* job, const wchar_t* manifestPath, const wchar_t* workDir);

/* Starts placing every part added. 1 when placing starts: in the open phase with at least one
   part, or again after a placing that failed with every file given back (a retry). 0 otherwise. */
int WINAPI PlaceCommit(PlaceJob* job);

/* Copies the current phase, percentage (0 to 100) and status text. Returns 1, or 0 when an
   argument is bad (nothing written) or the text was cut to capacity - 1 units (phase and percent
   still written). A capacity of 1024 never cuts. */
int WINAPI PlacePoll(PlaceJob* job, int* phase, int* percent, wchar_t* text, int capacity);

/* Asks the job to stop; returns at once. Until the commit point the install folder is then left
   as it was; after it the job finishes. 0 for a null job, else 1. */
int WINAPI PlaceCancel(PlaceJob* job);

/* Cancels the job, waits for its worker, removes the staging folder, releases the lock (and
   removes an install folder this job created, when it stayed empty) and frees the job. Call it
   exactly once, after closing any qelfetch job that delivered into its staging. 1 when
   everything of the job is gone; 0 when something remains (removed by the next run). */
int WINAPI PlaceClose(PlaceJob* job);

/* Starts an uninstall of installDir: removes the files its install record lists (files the
   user changed stay), the folders that became empty, the record, and the folder itself when
   empty. Null as PlaceStart. Polled, cancelled and closed like an install job. */
PlaceJob* WINAPI RemoveStart(const wchar_t* installDir);

/* A whole release in one call: ReleaseStart reads a release index (release.ini, as qelpack
   writes it) or a single manifest, starts a placement job on installDir, adds every part,
   delivers the parts two at a time with qelfetch.dll (loaded from this DLL's folder), and
   places them with one commit. A part whose download fails for a network reason is delivered
   again after a pause of 1, 2, 4, then 8 seconds, at most 3 times per address, going round the
   part's Url and the index's mirrors; a 404 moves to the next address at once. */
typedef struct ReleaseJob ReleaseJob;

enum ReleasePhase {
    RELEASE_PREPARING = 1,       /* the index, the folder's lock, the parts' names */
    RELEASE_DELIVERING = 2,      /* downloading, verifying, extracting the parts */
    RELEASE_WAITING = 3,         /* a pause before a part is delivered again */
    RELEASE_PLACING = 4,
    RELEASE_DONE = 5,
    RELEASE_FAILED = 6,
    RELEASE_CANCELLED = 7,
    RELEASE_PLACING_FAILED = 8   /* placing failed, every file given back: ReleaseRetry may try again */
};

/* Starts installing release (an index or a manifest) into installDir, recording version.
   package: for an index the folder that holds the parts' package files (empty: the index's
   folder; parts with a Url are downloaded), for a manifest its package file (empty when it is
   downloaded). Paths are made absolute here. Returns the job, or null when an argument is null
   or 1024 units and longer, or PlaceStart refuses the folder or version. */
ReleaseJob* WINAPI ReleaseStart(const wchar_t* release, const wchar_t* package, const wchar_t* installDir,
                                const wchar_t* version);

/* As PlacePoll: phase (ReleasePhase), percentage over the whole release (delivery to 90, placing
   the rest) and status text. 1, or 0 for a bad argument or a cut text; 1024 never cuts. */
int WINAPI ReleasePoll(ReleaseJob* job, int* phase, int* percent, wchar_t* text, int capacity);

/* Asks the job to stop; returns at once. The install folder stays as it was unless placing had
   passed its commit point. 0 for a null job, else 1. */
int WINAPI ReleaseCancel(ReleaseJob* job);

/* In RELEASE_PLACING_FAILED: places again (after a program let go of a file); the phase is
   RELEASE_PLACING when it returns 1. 0 in any other phase. */
int WINAPI ReleaseRetry(ReleaseJob* job);

/* Cancels, waits for the job, closes its deliveries and its placement job and frees it. Call it
   exactly once. 1 when nothing of the job is left; 0 when the staging keeps something for the
   next run (1 for a null job). */
int WINAPI ReleaseClose(ReleaseJob* job);

#ifdef __cplusplus
}
#endif

#endif
