// Upload server for the peer benchmark: net/http, every file part of a
// multipart POST streamed to DIR under its own file name (io.Copy from the
// part reader, nothing held in memory), answering the bytes stored.
// Usage: go run go_upload.go PORT DIR
package main

import (
	"fmt"
	"io"
	"net/http"
	"os"
	"path/filepath"
)

func main() {
	port, dir := os.Args[1], os.Args[2]
	http.HandleFunc("/", func(w http.ResponseWriter, r *http.Request) {
		mr, err := r.MultipartReader()
		if err != nil {
			http.Error(w, err.Error(), http.StatusBadRequest)
			return
		}
		var total int64
		for {
			part, err := mr.NextPart()
			if err == io.EOF {
				break
			}
			if err != nil {
				http.Error(w, err.Error(), http.StatusBadRequest)
				return
			}
			if part.FileName() == "" {
				io.Copy(io.Discard, part)
				continue
			}
			f, err := os.Create(filepath.Join(dir, filepath.Base(part.FileName())))
			if err != nil {
				http.Error(w, err.Error(), http.StatusInternalServerError)
				return
			}
			n, err := io.Copy(f, part)
			f.Close()
			if err != nil {
				http.Error(w, err.Error(), http.StatusBadRequest)
				return
			}
			total += n
		}
		fmt.Fprintf(w, "%d", total)
	})
	if err := http.ListenAndServe("127.0.0.1:"+port, nil); err != nil {
		fmt.Fprintln(os.Stderr, err)
		os.Exit(1)
	}
}
