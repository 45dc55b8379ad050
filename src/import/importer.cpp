// import
