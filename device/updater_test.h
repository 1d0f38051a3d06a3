/* The reference updater through power cuts on a simulated NOR flash: the number of checks that
 * failed (each also written to the host). */
#ifndef TARN_DEVICE_UPDATER_TEST_H
#define TARN_DEVICE_UPDATER_TEST_H

unsigned TestUpdater(void);

#endif
