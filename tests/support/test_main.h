// How a test program tells a parent that it proved nothing.
#pragma once

// Given to a test program that runs one test for a parent: a skip fails.
constexpr const char* CHILD_RUN_ARG = "--sondrel_child_run";
// The exit code when no test ran, or a test of a child run skipped itself.
constexpr int NO_VERDICT_EXIT_CODE = 2;
