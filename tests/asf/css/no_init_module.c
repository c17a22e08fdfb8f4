/*
** A shared library without csm_init: loading it as a communication-support
** module must fail. Built for the CSS tests only.
*/
__attribute__((visibility("default"))) int not_a_module(void) { return 42; }
