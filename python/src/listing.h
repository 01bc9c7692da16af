// What python/src/listing.cc adds to the extension module.
#pragma once

#include <pybind11/pybind11.h>

void add_listing(pybind11::module_& module);
