// The hold an incremental build keeps on the cube it extends, so that two increments of one
// cube run one after the other instead of both reading the same old cube.
#ifndef VARKEL_CUBELOCK_H
#define VARKEL_CUBELOCK_H

// Locks the previous cube of profileName (its cube file, else its page: the file the
// re-reader will open) and keeps it locked until the process ends. Another run holding it
// is waited for, at most incrementalWaitSeconds(); then the file under the name (that run's
// result) is the one locked. Giving up is fatal 2, with nothing read or written. No
// previous cube: nothing is locked (the re-reader reports it).
void lockPreviousCube(const char* profileName);

// Seconds an increment waits for another: VARKEL_INCREMENTAL_WAIT, else 600. A value that
// is not a whole number from 0 to 86400 is fatal 1.
int incrementalWaitSeconds();

#endif
