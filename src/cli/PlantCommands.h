#pragma once

struct CliOptions;

// identify, watch, record and serve over every controller of options.plant, in the
// working folder (entered already); the exit code of the run.
int RunPlant(const CliOptions &options);
