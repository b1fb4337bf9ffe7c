// The threads a host grants its render effects.
//
// An effect runs on the thread the host calls it on and starts no threads of
// its own unless the host grants it some. The host states the grant once
// (for every effect of the process) before it renders; an effect asks for it
// at the start of each pass and never changes it.
//
//   threads <= 1   nothing granted: the effect works on the calling thread
//                  alone (the default, what a host that never calls
//                  GrantRenderThreads gets);
//   threads >= 2   the effect may keep that many threads busy, the calling
//                  thread among them.
//
// The grant decides speed only: an effect gives the same result to the bit
// on any grant.
#pragma once

// Host side. Values below 0 count as 0.
void GrantRenderThreads(int threads);

// Effect side: the grant in force, 0 when nothing has been granted.
int RenderThreadsGranted();
