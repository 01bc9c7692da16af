# Writes the worker's script and the module's into one function in OUT, which
# the page turns into the text of a worker. Run with cmake -P.
file(READ ${WORKER} worker)
file(READ ${MODULE} module)
file(WRITE ${OUT} "// The worker: its own script, then the module.\nfunction cassmakWorker() {\n${worker}\n${module}\n}\n")
