// A launcher in Go (windows/amd64) that loads kes_selfupdate.dll by its
// absolute path beside the executable, never through the DLL search path.
package main

import (
	"fmt"
	"os"
	"path/filepath"
	"syscall"
)

// Set at build time: -ldflags "-X main.version=2.0.0.0".
var version = "0.0.0.0"

func handedOver() bool {
	self, err := os.Executable()
	if err != nil {
		return false
	}
	dll, err := syscall.LoadDLL(filepath.Join(filepath.Dir(self), "kes_selfupdate.dll"))
	if err != nil {
		return false
	}
	scan, err := dll.FindProc("kes_self_update_scan")
	if err != nil {
		return false
	}
	// The scan reads this process's own command line.
	started, _, _ := scan.Call()
	return int32(started) == 1
}

func main() {
	if handedOver() {
		return // a newer launcher beside this one has taken over
	}
	fmt.Printf("Go launcher %s running as %s\n", version, os.Args[0])
	for i, arg := range os.Args[1:] {
		fmt.Printf("  argument %d: [%s]\n", i+1, arg)
	}
}
