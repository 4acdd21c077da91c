// A launcher in Go (windows/amd64) that loads kes_selfupdate.dll by its
// absolute path beside the executable, never through the DLL search path.
// After the scan it joins the start program's identity and prunes old
// launchers; with KES_EXAMPLE_DOWNLOAD and KES_EXAMPLE_NAME set it lands that
// download.
package main

import (
	"fmt"
	"os"
	"path/filepath"
	"runtime"
	"syscall"
	"unsafe"
)

// Set at build time: -ldflags "-X main.version=2.0.0.0".
var version = "0.0.0.0"

func loadRoutine() *syscall.DLL {
	self, err := os.Executable()
	if err != nil {
		return nil
	}
	dll, err := syscall.LoadDLL(filepath.Join(filepath.Dir(self), "kes_selfupdate.dll"))
	if err != nil {
		return nil
	}
	return dll
}

// call runs one of the routine's functions; -1000 when it is missing.
func call(dll *syscall.DLL, name string, args ...uintptr) int32 {
	proc, err := dll.FindProc(name)
	if err != nil {
		return -1000
	}
	result, _, _ := proc.Call(args...)
	return int32(result)
}

func main() {
	dll := loadRoutine()
	if dll == nil {
		fmt.Println("kes_selfupdate.dll not found beside the launcher")
		return
	}
	// The scan reads this process's own command line.
	if call(dll, "kes_self_update_scan") == 1 {
		return // a newer launcher beside this one has taken over
	}
	fmt.Printf("Go launcher %s running as %s\n", version, os.Args[0])
	for i, arg := range os.Args[1:] {
		fmt.Printf("  argument %d: [%s]\n", i+1, arg)
	}
	// Before any window: the taskbar groups it with the start program.
	joined := call(dll, "kes_join_start_identity")
	pruned := call(dll, "kes_prune_launchers", 2)
	fmt.Printf("  cycle: identity %d, pruned %d\n", joined, pruned)
	download, name := os.Getenv("KES_EXAMPLE_DOWNLOAD"), os.Getenv("KES_EXAMPLE_NAME")
	downloadText, errDownload := syscall.BytePtrFromString(download)
	nameText, errName := syscall.BytePtrFromString(name)
	if download != "" && name != "" && errDownload == nil && errName == nil {
		landed := call(dll, "kes_land_update", uintptr(unsafe.Pointer(downloadText)),
			uintptr(unsafe.Pointer(nameText)), 60000)
		// The texts stay alive until the call has returned.
		runtime.KeepAlive(downloadText)
		runtime.KeepAlive(nameText)
		fmt.Printf("  landed: %d\n", landed)
	}
}
