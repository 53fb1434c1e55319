#include "Form1.h"

void Form1::saveSetToolStripMenuItem_Click() {}

void Form1::loadSetToolStripMenuItem_Click() {}
